#include "engine/tone_mapper.h"

namespace qv {

bool SameSize(const ImageView& a, const ImageView& b) { return a.width == b.width && a.height == b.height; }

void ToneMapper::Process(const ImageView& input, const ImageView& output, const PixelRect& rect) const {
  if (!SameSize(input, output)) return;
  // A pass reads the table or ramp of its own depth: views of another depth
  // than this mapper's would index an empty table.
  if (input.depth != settings_.depth || output.depth != settings_.depth) return;
  if (input.data == nullptr || output.data == nullptr) return;
  switch (input.depth) {
    case kDepth8: Process8(input, output, rect); break;
    case kDepth16: Process16(input, output, rect); break;
    case kDepthFloat: ProcessFloat(input, output, rect); break;
    default: break;
  }
}

}  // namespace qv
