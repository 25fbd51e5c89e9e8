// The host's layout, checked by the C++ compiler that builds the plug-in and
// the simulated host: every offset, size and alignment of the table, and every
// slot a function pointer.
#include <cstddef>
#include <type_traits>
#include <utility>

#include "host_api/ae_all.h"

namespace {

template <class T>
constexpr bool kIsFunctionPointer = std::is_pointer_v<T> && std::is_function_v<std::remove_pointer_t<T>>;

}  // namespace

#define QV_MEMBER_TYPE(T, m) decltype(std::declval<T&>().m)

#define QV_ABI_RECORD(T, size, align)                \
  static_assert(sizeof(T) == (size), "size of " #T); \
  static_assert(alignof(T) == (align), "alignment of " #T);
#define QV_ABI_MEMBER(T, m, off, size, used)                        \
  static_assert(offsetof(T, m) == (off), "offset of " #T "." #m);   \
  static_assert(sizeof(QV_MEMBER_TYPE(T, m)) == (size), "size of " #T "." #m);
#define QV_ABI_SLOT(T, m, off, size, used)    \
  QV_ABI_MEMBER(T, m, off, size, used)        \
  static_assert(kIsFunctionPointer<std::remove_reference_t<QV_MEMBER_TYPE(T, m)>>, #T "." #m " is a function slot");
#define QV_ABI_NESTED_RECORD(T, path, size, align)                                     \
  static_assert(sizeof(QV_MEMBER_TYPE(T, path)) == (size), "size of " #T "." #path); \
  static_assert(alignof(std::remove_reference_t<QV_MEMBER_TYPE(T, path)>) == (align), \
                "alignment of " #T "." #path);
#define QV_ABI_NESTED_MEMBER(T, path, m, off, size, used)                   \
  static_assert(offsetof(T, path.m) - offsetof(T, path) == (off),            \
                "offset of " #T "." #path "." #m);                           \
  static_assert(sizeof(QV_MEMBER_TYPE(T, path.m)) == (size), "size of " #T "." #path "." #m);

#include "host_api/abi_layout.inc"
