// The host's records as the host fills them for the plug-in: laid out as the
// published SDK lays them out (host_api/abi/host-abi.csv), with every member
// the effect has no business reading holding a recognisable pattern, and
// every function slot it has no business calling holding a trap that records
// a violation naming the slot. The host then writes the members the effect
// does use. A plug-in that reads or calls at a wrong offset meets the pattern
// or a trap instead of a plausible value.
#ifndef SIMHOST_SRC_HOST_RECORDS_H
#define SIMHOST_SRC_HOST_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host_api/ae_all.h"
#include "simhost/host.h"

namespace simhost::detail {

// The byte the host writes where the effect must not read: the pattern, or
// zero for a host that clears its records (HostOptions::patterned_records).
inline unsigned char UnusedFill(bool patterned) { return patterned ? kUnusedBytePattern : 0; }

// Fills the record `title` (a record or suite name of the table, e.g.
// "PF_InData", "PF_HandleSuite1") at `base`: every byte with `fill`, then
// every function slot the effect must not call with its trap. Members the
// effect uses are left for the caller to write; nested records are filled by
// their own call, after the outer one.
void FillRecord(std::string_view title, void* base, std::size_t size, unsigned char fill);

template <class Record>
void FillRecord(std::string_view title, Record& record, unsigned char fill) {
  FillRecord(title, &record, sizeof record, fill);
}

// Called by a trap: "<record>.<slot>". Implemented with the host's routing
// (host_calls.cpp), which knows the host the calling thread belongs to.
void UnusedSlotCalled(const std::string& slot);

}  // namespace simhost::detail

#endif
