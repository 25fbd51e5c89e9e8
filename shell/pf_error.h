// How a host error code travels from deep inside a handler up to the entry
// point, which is the only place that catches it.
#pragma once

#include "host_api/ae_types.h"

namespace qv {

// The exception that carries a host error code up to the entry point.
struct PfError {
  PF_Err code;
};

// Throws PfError{code}.
[[noreturn]] void RaisePfError(PF_Err code);

}  // namespace qv
