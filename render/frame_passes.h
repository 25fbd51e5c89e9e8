// The pass choices of every frame's ToneMapper.
#pragma once

#include "engine/pass_variant.h"

namespace qv {

// What the frame's ToneMapper is forced to run on. The plug-in forces nothing
// (frame_passes.cpp, alone in its object so that a program can replace it):
// the processor and the machine choose. Test and benchmark programs, and the
// test-only build of the plug-in, link a definition of their own that forces
// what they are asked to.
PassForcing FramePasses();

}  // namespace qv
