#include "host_records.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "simhost/layout_table.h"

namespace simhost::detail {
namespace {

// One row per record, member and slot of the host's layout table.
constexpr LayoutRow kRows[] = {
#define QV_ABI_RECORD(T, size, align) {#T, "", size, align, LayoutKind::kRecord, true},
#define QV_ABI_MEMBER(T, m, off, size, used) {#T, #m, off, size, LayoutKind::kMember, (used) != 0},
#define QV_ABI_SLOT(T, m, off, size, used) {#T, #m, off, size, LayoutKind::kSlot, (used) != 0},
#define QV_ABI_NESTED_RECORD(T, path, size, align) {#T "." #path, "", size, align, LayoutKind::kRecord, true},
#define QV_ABI_NESTED_MEMBER(T, path, m, off, size, used) \
  {#T "." #path, #m, off, size, LayoutKind::kMember, (used) != 0},
#include "host_api/abi_layout.inc"
#undef QV_ABI_RECORD
#undef QV_ABI_MEMBER
#undef QV_ABI_SLOT
#undef QV_ABI_NESTED_RECORD
#undef QV_ABI_NESTED_MEMBER
};
constexpr std::size_t kRowCount = std::size(kRows);

// One trap per row, so that each knows the slot it stands in. A plug-in
// calls it through whatever type it believes the slot has; the trap takes no
// arguments (the caller cleans up its own on x86-64, Windows and System V
// alike) and answers with an error code where an error code is expected.
template <std::size_t I>
std::intptr_t Trap() {
  UnusedSlotCalled(std::string(kRows[I].record) + "." + kRows[I].member);
  return PF_Err_INVALID_CALLBACK;
}

template <std::size_t... I>
std::array<PF_UnusedSlot, sizeof...(I)> MakeTraps(std::index_sequence<I...>) {
  return {reinterpret_cast<PF_UnusedSlot>(&Trap<I>)...};
}

const std::array<PF_UnusedSlot, kRowCount>& Traps() {
  static const auto traps = MakeTraps(std::make_index_sequence<kRowCount>());
  return traps;
}

}  // namespace

void FillRecord(std::string_view title, void* base, std::size_t size, unsigned char fill) {
  const auto record = std::find_if(std::begin(kRows), std::end(kRows), [&](const LayoutRow& row) {
    return row.kind == LayoutKind::kRecord && title == row.record;
  });
  if (record == std::end(kRows)) {
    throw std::logic_error("no record " + std::string(title) + " in the host's layout table");
  }
  if (record->offset != size) throw std::logic_error(std::string(title) + " has the wrong size");
  std::memset(base, fill, size);
  for (std::size_t i = 0; i < kRowCount; ++i) {
    const LayoutRow& row = kRows[i];
    if (row.kind == LayoutKind::kSlot && !row.used && title == row.record) {
      const PF_UnusedSlot trap = Traps()[i];
      std::memcpy(static_cast<unsigned char*>(base) + row.offset, &trap, sizeof trap);
    }
  }
}

}  // namespace simhost::detail

namespace simhost {
std::span<const LayoutRow> LayoutTable() { return detail::kRows; }
}  // namespace simhost
