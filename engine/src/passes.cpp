#include "engine/tone_mapper.h"

#include <cstdint>

#include "pass_kernels.h"

namespace qv {

bool SameSize(const ImageView& a, const ImageView& b) { return a.width == b.width && a.height == b.height; }

namespace {

// The bytes a view's rows span, padding included.
std::uint64_t ViewBytes(const ImageView& view) {
  const std::int64_t stride = view.stride < 0 ? -std::int64_t{view.stride} : view.stride;
  return static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(view.height > 0 ? view.height : 0) *
         (view.depth == kDepth8 ? sizeof(Pixel8) : view.depth == kDepth16 ? sizeof(Pixel16) : sizeof(PixelFloat));
}

}  // namespace

OutputStores ToneMapper::OutputStoresOf(const ImageView& input, const ImageView& output) const {
  return stores_.value_or(OutputStoresFor(ThisMachine(), ViewBytes(input) + ViewBytes(output)));
}

void ToneMapper::Process(const ImageView& input, const ImageView& output, const PixelRect& rect) const {
  if (!SameSize(input, output)) return;
  // A pass reads the table or ramp of its own depth: views of another depth
  // than this mapper's would index an empty table.
  if (input.depth != settings_.depth || output.depth != settings_.depth) return;
  if (input.data == nullptr || output.data == nullptr) return;
  const detail::PassKernels* streaming =
      kernels_ != nullptr && OutputStoresOf(input, output) == OutputStores::kStreaming ? kernels_ : nullptr;
  switch (input.depth) {
    case kDepth8: Process8(input, output, rect, streaming); break;
    case kDepth16: Process16(input, output, rect, streaming); break;
    case kDepthFloat: ProcessFloat(input, output, rect, streaming); break;
    default: break;
  }
}

}  // namespace qv
