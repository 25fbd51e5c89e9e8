// Replaces the plug-in's FramePasses, which forces nothing, in the programs
// that link this object: their frames run on what the environment forces.

#include "forced_passes.h"
#include "render/frame_passes.h"

namespace qv {

PassForcing FramePasses() { return testing::PassesFromEnvironment(); }

}  // namespace qv
