#include "render/frame_passes.h"

namespace qv {

PassForcing FramePasses() { return {}; }

}  // namespace qv
