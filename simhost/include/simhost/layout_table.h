// The host's binary layout as data: one row per record, member and function
// slot of the records and suites the host hands an effect, made from
// host_api/abi/host-abi.csv. The host fills its records from it (patterns
// where the effect must not read, traps where it must not call), and tests
// check those records against it.
#ifndef SIMHOST_LAYOUT_TABLE_H
#define SIMHOST_LAYOUT_TABLE_H

#include <cstddef>
#include <span>

namespace simhost {

enum class LayoutKind {
  kRecord,  // the record itself: `offset` is its size
  kMember,  // a data member
  kSlot,    // a function pointer
};

struct LayoutRow {
  const char* record;  // "PF_InData", "PF_HandleSuite1", "PF_ParamDef.uu" (an anonymous member)
  const char* member;  // empty for a record row
  std::size_t offset;
  std::size_t size;    // alignment, for a record row
  LayoutKind kind;
  bool used;           // the effect reads, writes or calls it
};

std::span<const LayoutRow> LayoutTable();

}  // namespace simhost

#endif
