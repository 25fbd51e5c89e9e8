/* The host's layout, checked by a C compiler: the declarations are plain C,
 * and a C host or plug-in must see the same offsets as the C++ code. */
#include <assert.h>
#include <stddef.h>

#include "host_api/ae_all.h"

#define QV_MEMBER_SIZE(T, m) sizeof(((T *)0)->m)

#define QV_ABI_RECORD(T, size, align)                                      \
  static_assert(sizeof(T) == (size), "size of " #T);                       \
  static_assert(_Alignof(T) == (align), "alignment of " #T);
#define QV_ABI_MEMBER(T, m, off, size, used)                               \
  static_assert(offsetof(T, m) == (off), "offset of " #T "." #m);          \
  static_assert(QV_MEMBER_SIZE(T, m) == (size), "size of " #T "." #m);
#define QV_ABI_SLOT(T, m, off, size, used) QV_ABI_MEMBER(T, m, off, size, used)
#define QV_ABI_NESTED_RECORD(T, path, size, align)                          \
  static_assert(QV_MEMBER_SIZE(T, path) == (size), "size of " #T "." #path); \
  static_assert(__alignof__(((T *)0)->path) == (align), "alignment of " #T "." #path);
#define QV_ABI_NESTED_MEMBER(T, path, m, off, size, used)                          \
  static_assert(offsetof(T, path.m) - offsetof(T, path) == (off),                   \
                "offset of " #T "." #path "." #m);                                  \
  static_assert(QV_MEMBER_SIZE(T, path.m) == (size), "size of " #T "." #path "." #m);

#include "host_api/abi_layout.inc"

/* ISO C wants at least one declaration in a file. */
typedef int qv_layout_checked_in_c;
