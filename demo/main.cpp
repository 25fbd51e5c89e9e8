// quorvandile-demo OUTPUT.png
//
// Tones a generated test card at 8 bits with each tone count and writes the
// original and the four results stacked top to bottom: original, Monotone,
// Duotone, Tritone, Pentone.

#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "demo_settings.h"
#include "engine/tone_mapper.h"
#include "test_image.h"

namespace {

constexpr std::int32_t kWidth = 512;
constexpr qv::ToneCount kToneCounts[] = {qv::kMonotone, qv::kDuotone, qv::kTritone, qv::kPentone};

// The engine's pixels are alpha, red, green, blue; PNG wants red, green, blue,
// alpha, and straight (not premultiplied) alpha, which is what the engine
// produces.
bool WritePng(const std::string& path, const std::vector<qv::Pixel8>& pixels, std::int32_t width,
              std::int32_t height) {
  std::vector<unsigned char> rgba;
  rgba.reserve(pixels.size() * 4);
  for (const qv::Pixel8& p : pixels) rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});

  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    std::fprintf(stderr, "quorvandile-demo: cannot write %s: %s\n", path.c_str(), OIIO::geterror().c_str());
    return false;
  }
  OIIO::ImageSpec spec(width, height, 4, OIIO::TypeDesc::UINT8);
  spec.attribute("oiio:UnassociatedAlpha", 1);
  if (!out->open(path, spec) || !out->write_image(OIIO::TypeDesc::UINT8, rgba.data()) || !out->close()) {
    std::fprintf(stderr, "quorvandile-demo: cannot write %s: %s\n", path.c_str(), out->geterror().c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argc > 0 ? argv[0] : "quorvandile-demo");
    return 2;
  }
  try {
    qv::demo::TestImage card = qv::demo::MakeTestImage(kWidth);
    const qv::ImageView input{qv::kDepth8, card.pixels.data(), card.width, card.height, card.width};
    const std::size_t panel = card.pixels.size();

    std::vector<qv::Pixel8> sheet(panel * (1 + std::size(kToneCounts)));
    std::memcpy(sheet.data(), card.pixels.data(), panel * sizeof(qv::Pixel8));
    for (std::size_t i = 0; i < std::size(kToneCounts); ++i) {
      const qv::ToneMapper mapper({qv::kDepth8, qv::demo::DefaultParams(kToneCounts[i])});
      const qv::ImageView output{qv::kDepth8, sheet.data() + panel * (i + 1), card.width, card.height, card.width};
      mapper.Process(input, output, input.Bounds());
    }
    const auto height = static_cast<std::int32_t>(sheet.size() / static_cast<std::size_t>(card.width));
    return WritePng(argv[1], sheet, card.width, height) ? 0 : 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "quorvandile-demo: out of memory\n");
    return 1;
  }
}
