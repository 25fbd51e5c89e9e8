#include "shell/pipl.h"

namespace qv {

std::span<const unsigned char> PiplBytes() { return pipl::kResource; }

}  // namespace qv
