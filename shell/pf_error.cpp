#include "shell/pf_error.h"

namespace qv {

void RaisePfError(PF_Err code) { throw PfError{code}; }

}  // namespace qv
