#include "host_records.h"

#include <array>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

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

namespace {

// What filling one record takes: its size and the traps of its unused slots.
struct RecordPlan {
  std::size_t size = 0;
  std::vector<std::pair<std::size_t, PF_UnusedSlot>> traps;  // offset, trap
};

// Made once: the host fills several records for every command.
const std::map<std::string_view, RecordPlan>& Plans() {
  static const auto plans = [] {
    std::map<std::string_view, RecordPlan> made;
    for (std::size_t i = 0; i < kRowCount; ++i) {
      const LayoutRow& row = kRows[i];
      RecordPlan& plan = made[row.record];
      if (row.kind == LayoutKind::kRecord) plan.size = row.offset;
      if (row.kind == LayoutKind::kSlot && !row.used) plan.traps.emplace_back(row.offset, Traps()[i]);
    }
    return made;
  }();
  return plans;
}

}  // namespace

void FillRecord(std::string_view title, void* base, std::size_t size, unsigned char fill) {
  const auto found = Plans().find(title);
  if (found == Plans().end()) {
    throw std::logic_error("no record " + std::string(title) + " in the host's layout table");
  }
  const RecordPlan& plan = found->second;
  if (plan.size != size) throw std::logic_error(std::string(title) + " has the wrong size");
  std::memset(base, fill, size);
  for (const auto& [offset, trap] : plan.traps) {
    std::memcpy(static_cast<unsigned char*>(base) + offset, &trap, sizeof trap);
  }
}

}  // namespace simhost::detail

namespace simhost {
std::span<const LayoutRow> LayoutTable() { return detail::kRows; }
}  // namespace simhost
