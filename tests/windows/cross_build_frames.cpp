// Renders a fixed set of frames through the plug-in file, loaded as the host
// loads it, so that two builds of the plug-in (Linux and Windows) can be
// compared frame by frame:
//   cross_build_frames write <file>     renders the frames and writes them
//   cross_build_frames compare <file>   renders them and compares them with
//                                       the frames another build wrote
//
// The frames: every depth, tone count and Base On under each of 56 levels
// settings: eight gammas over one pair of black and white points, eight
// settings at the edges (negative input points, equal input points, output
// black above white, the gamma slider's ends) and forty drawn at random from a
// fixed seed over the controls' whole ranges. Each layer starts with one pixel
// per tone value of the depth's lookup table (0 to 255, 0 to 32768; for float
// a ramp from -0.25 to 1.25 in steps of 1/4096), as greys with full alpha or,
// for Base On Alpha, as an alpha ramp, so that the 8 and 16-bit frames show
// every table entry; pixels of random colours follow. Blend is off: each tone
// pixel is its table entry.
//
// Every value must be equal. The float frames take the effect's own power
// function (plain double arithmetic in a fixed order). The tables and the
// levels take the C runtime's pow (glibc's; MinGW-w64's, computed on the x87
// unit at the precision the effect sets), which may differ in the last bit:
// this comparison is what shows that no such difference reaches a frame here.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host_api/ae_all.h"
#include "shell/param_index.h"
#include "simhost/host.h"

namespace {

using simhost::Host;
using simhost::World;

constexpr char kMagic[8] = {'Q', 'V', 'F', 'R', 'A', 'M', 'E', '2'};
constexpr A_long kWidth = 256;
constexpr int kRandomPixels = 1024;
constexpr A_long kBaseAlpha = 6;

// The five levels controls: Input Black, Input White, Gamma, Output Black,
// Output White.
struct Levels {
  double input_black, input_white, gamma, output_black, output_white;
};

// Random values from the generator's raw output, which the standard fixes for
// every library (its distributions are not fixed).
double Uniform(std::mt19937& rng, double lo, double hi) {
  return lo + (hi - lo) * static_cast<double>(rng()) / 4294967296.0;
}

std::vector<Levels> LevelsSettings() {
  std::vector<Levels> settings;
  // Gamma 1 first (no power), then gammas over the slider, steep curves
  // included, where a power's last bit weighs most.
  for (double gamma : {1.0, 0.3, 0.45, 0.8, 1.6, 2.2, 3.7, 9.5}) settings.push_back({0.04, 0.93, gamma, 0.03, 0.97});
  // The edges: negative input points (no real curve unless 1/Gamma is a whole
  // number), equal input points, output black above white, the gamma slider's
  // ends (0.01 and 50 valid, 10 the slider's top).
  settings.push_back({-0.2, 0.9, 2.2, 0.0, 1.0});
  settings.push_back({-0.3, 0.8, 1.0, 0.1, 0.9});
  settings.push_back({-0.5, 1.0, 0.5, 0.0, 1.0});
  settings.push_back({0.5, 0.5, 1.0, 0.0, 1.0});
  settings.push_back({0.3, 0.3, 2.2, 0.1, 0.8});
  settings.push_back({0.0, 1.0, 1.4, 1.0, 0.0});
  settings.push_back({0.1, 0.9, 0.01, 0.0, 1.0});
  settings.push_back({0.05, 0.95, 50.0, 0.02, 0.98});
  std::mt19937 rng(20261208);
  for (int i = 0; i < 40; ++i) {
    Levels l{};
    l.input_black = Uniform(rng, -0.5, 0.7);
    l.input_white = Uniform(rng, 0.3, 1.5);
    // Over the valid range, 0.01 to 50, a decade drawn first (no library
    // function: both builds must draw the same values); every fifth at an end.
    constexpr double kDecades[][2] = {{0.01, 0.1}, {0.1, 1.0}, {1.0, 10.0}, {10.0, 50.0}};
    const auto& decade = kDecades[rng() % 4];
    l.gamma = i % 5 == 4 ? (i % 10 == 4 ? 0.01 : 50.0) : Uniform(rng, decade[0], decade[1]);
    l.output_black = Uniform(rng, -0.2, 1.2);
    l.output_white = Uniform(rng, -0.2, 1.2);
    settings.push_back(l);
  }
  return settings;
}

struct DepthInfo {
  PF_PixelFormat format;
  const char* name;
  int tone_pixels;  // one per table entry; the float ramp's steps
};
constexpr std::array<DepthInfo, 3> kDepths = {{
    {PF_PixelFormat_ARGB32, "8-bit", 256},
    {PF_PixelFormat_ARGB64, "16-bit", 32769},
    {PF_PixelFormat_ARGB128, "float", 6145},
}};

struct FrameCase {
  const DepthInfo* depth;
  Levels levels;
  A_long tones;
  A_long base_on;
};

std::vector<FrameCase> Cases() {
  std::vector<FrameCase> cases;
  const std::vector<Levels> settings = LevelsSettings();
  for (const DepthInfo& depth : kDepths) {
    for (const Levels& levels : settings) {
      for (A_long tones = 1; tones <= 4; ++tones) {
        for (A_long base_on = 1; base_on <= 6; ++base_on) {
          cases.push_back({&depth, levels, tones, base_on});
        }
      }
    }
  }
  return cases;
}

A_long HeightOf(const DepthInfo& depth) {
  return (depth.tone_pixels + kRandomPixels + kWidth - 1) / kWidth;
}

// Random channels from the generator's raw output.
class Channels {
 public:
  explicit Channels(std::uint32_t seed) : rng_(seed) {}
  A_u_char Byte() { return static_cast<A_u_char>(rng_() >> 24); }
  A_u_short Sixteen() { return static_cast<A_u_short>(rng_() % 32769u); }
  float Float() { return static_cast<float>(rng_() >> 8) / 16777216.0f * 1.5f - 0.25f; }

 private:
  std::mt19937 rng_;
};

World Layer(const DepthInfo& depth, bool alpha_ramp) {
  World world(kWidth, HeightOf(depth), depth.format);
  Channels random(depth.format);
  for (A_long y = 0; y < world.height(); ++y) {
    for (A_long x = 0; x < kWidth; ++x) {
      const int i = static_cast<int>(y * kWidth + x);
      const bool tone = i < depth.tone_pixels;
      switch (depth.format) {
        case PF_PixelFormat_ARGB32: {
          const auto t = static_cast<A_u_char>(i);
          world.At<PF_Pixel8>(x, y) =
              tone ? PF_Pixel8{alpha_ramp ? t : A_u_char{255}, t, t, t}
                   : PF_Pixel8{random.Byte(), random.Byte(), random.Byte(), random.Byte()};
          break;
        }
        case PF_PixelFormat_ARGB64: {
          const auto t = static_cast<A_u_short>(i);
          world.At<PF_Pixel16>(x, y) =
              tone ? PF_Pixel16{alpha_ramp ? t : A_u_short{32768}, t, t, t}
                   : PF_Pixel16{random.Sixteen(), random.Sixteen(), random.Sixteen(),
                                random.Sixteen()};
          break;
        }
        default: {
          const float t = static_cast<float>(i) / 4096.0f - 0.25f;
          world.At<PF_PixelFloat>(x, y) =
              tone ? PF_PixelFloat{alpha_ramp ? t : 1.0f, t, t, t}
                   : PF_PixelFloat{random.Float(), random.Float(), random.Float(), random.Float()};
        }
      }
    }
  }
  return world;
}

// The pixel bytes of a world, row after row, without the row padding.
std::vector<unsigned char> PixelBytes(const World& world) {
  std::vector<unsigned char> bytes;
  const auto row_bytes = static_cast<std::size_t>(world.width() * world.bytes_per_pixel());
  const auto* base = reinterpret_cast<const unsigned char*>(world.effect_world()->data);
  for (A_long y = 0; y < world.height(); ++y) {
    const unsigned char* row = base + static_cast<std::size_t>(y) * world.rowbytes();
    bytes.insert(bytes.end(), row, row + row_bytes);
  }
  return bytes;
}

// Every frame's output pixels, in the order of Cases(); empty on failure.
std::vector<std::vector<unsigned char>> Render(const std::string& plugin) {
  std::string error;
  const auto host = Host::Load(plugin, &error);
  if (!host) {
    std::fprintf(stderr, "cannot load %s: %s\n", plugin.c_str(), error.c_str());
    return {};
  }
  if (host->GlobalSetup() != PF_Err_NONE || host->ParamsSetup() != PF_Err_NONE) {
    std::fprintf(stderr, "setup failed: %d\n", static_cast<int>(host->LastError()));
    return {};
  }
  // Settings away from the defaults, so that every part of the curve counts.
  host->SetParam(qv::kParamHighlights, PF_Pixel{255, 250, 240, 200});
  host->SetParam(qv::kParamBrights, PF_Pixel{255, 200, 150, 90});
  host->SetParam(qv::kParamMidtones, PF_Pixel{255, 140, 90, 160});
  host->SetParam(qv::kParamDarktones, PF_Pixel{255, 60, 80, 30});
  host->SetParam(qv::kParamShadows, PF_Pixel{255, 10, 20, 40});
  host->SetParam(qv::kParamHighlightsOpacity, simhost::FixedFromDouble(95));
  host->SetParam(qv::kParamShadowsOpacity, simhost::FixedFromDouble(15));

  std::vector<std::vector<unsigned char>> frames;
  const DepthInfo* layer_depth = nullptr;
  bool layer_alpha_ramp = false;
  for (const FrameCase& c : Cases()) {
    const bool alpha_ramp = c.base_on == kBaseAlpha;
    if (c.depth != layer_depth || alpha_ramp != layer_alpha_ramp) {
      host->SetInput(Layer(*c.depth, alpha_ramp));
      layer_depth = c.depth;
      layer_alpha_ramp = alpha_ramp;
    }
    host->SetParam(qv::kParamInputBlack, c.levels.input_black);
    host->SetParam(qv::kParamInputWhite, c.levels.input_white);
    host->SetParam(qv::kParamGamma, c.levels.gamma);
    host->SetParam(qv::kParamOutputBlack, c.levels.output_black);
    host->SetParam(qv::kParamOutputWhite, c.levels.output_white);
    host->SetParam(qv::kParamTones, simhost::PopupValue{c.tones});
    host->SetParam(qv::kParamBaseOn, simhost::PopupValue{c.base_on});
    const simhost::FrameReport frame = host->RenderFrame(0);
    if (frame.err() != PF_Err_NONE || !frame.output || frame.output->width() != kWidth ||
        frame.output->height() != HeightOf(*c.depth)) {
      std::fprintf(stderr, "%s frame (levels %g %g %g %g %g, tones %d, Base On %d) failed: %d\n", c.depth->name,
                   c.levels.input_black, c.levels.input_white, c.levels.gamma, c.levels.output_black,
                   c.levels.output_white, static_cast<int>(c.tones), static_cast<int>(c.base_on),
                   static_cast<int>(frame.err()));
      return {};
    }
    frames.push_back(PixelBytes(*frame.output));
  }
  host->GlobalSetdown();
  for (const std::string& violation : host->Violations()) {
    std::fprintf(stderr, "host: %s\n", violation.c_str());
  }
  if (!host->Violations().empty()) return {};
  return frames;
}

bool Write(const std::string& path, const std::vector<std::vector<unsigned char>>& frames) {
  std::ofstream out(path, std::ios::binary);
  out.write(kMagic, sizeof kMagic);
  for (const auto& frame : frames) {
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

std::vector<std::vector<unsigned char>> Read(const std::string& path,
                                             const std::vector<std::vector<unsigned char>>& like) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  std::size_t expected = sizeof kMagic;
  for (const auto& frame : like) expected += frame.size();
  if (file.size() != expected || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) {
    std::fprintf(stderr, "%s: not a frame file of this program (%zu bytes, expected %zu)\n",
                 path.c_str(), file.size(), expected);
    return {};
  }
  std::vector<std::vector<unsigned char>> frames;
  auto at = file.begin() + sizeof kMagic;
  for (const auto& frame : like) {
    frames.emplace_back(at, at + static_cast<std::ptrdiff_t>(frame.size()));
    at += static_cast<std::ptrdiff_t>(frame.size());
  }
  return frames;
}

// Distance in representable floats; NaNs are equal only with equal bits.
std::int64_t UlpDistance(float a, float b) {
  std::uint32_t ua, ub;
  std::memcpy(&ua, &a, sizeof ua);
  std::memcpy(&ub, &b, sizeof ub);
  if (ua == ub) return 0;
  if (std::isnan(a) || std::isnan(b)) return INT64_MAX;
  auto ordered = [](std::uint32_t u) {
    return (u & 0x80000000u) ? -static_cast<std::int64_t>(u & 0x7FFFFFFFu) : static_cast<std::int64_t>(u);
  };
  const std::int64_t d = ordered(ua) - ordered(ub);
  return d < 0 ? -d : d;
}

// Differences within one class of frames: a depth, at gamma 1 or at the others.
struct Tally {
  int frames = 0;
  std::int64_t tone_pixels = 0;  // the table entries, at 8 and 16 bits
  std::int64_t differing_tone_pixels = 0;
  std::int64_t other_pixels = 0;
  std::int64_t differing_other_pixels = 0;
  std::int64_t channels = 0;
  std::int64_t differing_channels = 0;
  std::int64_t max_difference = 0;  // channel units; ulps for float
  double max_float_difference = 0;  // float only: the largest absolute difference
};

// The difference of channel k of two pixels, in channel units or, for float,
// in ulps (the absolute difference goes to `absolute`).
std::int64_t ChannelDifference(std::size_t pixel_bytes, const unsigned char* a,
                               const unsigned char* b, int k, double& absolute) {
  if (pixel_bytes == 4) return std::abs(static_cast<int>(a[k]) - static_cast<int>(b[k]));
  if (pixel_bytes == 8) {
    std::uint16_t x, y;
    std::memcpy(&x, a + 2 * k, sizeof x);
    std::memcpy(&y, b + 2 * k, sizeof y);
    return std::abs(static_cast<int>(x) - static_cast<int>(y));
  }
  float x, y;
  std::memcpy(&x, a + 4 * k, sizeof x);
  std::memcpy(&y, b + 4 * k, sizeof y);
  absolute = std::fabs(static_cast<double>(x) - static_cast<double>(y));
  return UlpDistance(x, y);
}

void Count(const FrameCase& c, const std::vector<unsigned char>& ours,
           const std::vector<unsigned char>& theirs, Tally& tally) {
  ++tally.frames;
  const std::size_t pixel_bytes = static_cast<std::size_t>(simhost::BytesPerPixel(c.depth->format));
  for (std::size_t p = 0; p * pixel_bytes < ours.size(); ++p) {
    bool differs = false;
    for (int k = 0; k < 4; ++k) {
      double absolute = 0;
      const std::int64_t d = ChannelDifference(pixel_bytes, ours.data() + p * pixel_bytes,
                                               theirs.data() + p * pixel_bytes, k, absolute);
      ++tally.channels;
      if (d != 0) {
        ++tally.differing_channels;
        differs = true;
        tally.max_difference = std::max(tally.max_difference, d);
        tally.max_float_difference = std::max(tally.max_float_difference, absolute);
      }
    }
    const bool tone = p < static_cast<std::size_t>(c.depth->tone_pixels);
    (tone ? tally.tone_pixels : tally.other_pixels) += 1;
    if (differs) (tone ? tally.differing_tone_pixels : tally.differing_other_pixels) += 1;
  }
}

// Prints what differs, class by class; 0 when nothing does.
int Compare(const std::vector<std::vector<unsigned char>>& ours,
            const std::vector<std::vector<unsigned char>>& theirs) {
  const std::vector<FrameCase> cases = Cases();
  std::array<std::array<Tally, 2>, kDepths.size()> tallies{};  // [depth][gamma 1, others]
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto depth = static_cast<std::size_t>(cases[i].depth - kDepths.data());
    Count(cases[i], ours[i], theirs[i], tallies[depth][cases[i].levels.gamma == 1.0 ? 0 : 1]);
  }

  bool equal = true;
  std::printf("%-7s %-6s %6s %12s %10s %12s %10s %10s %10s\n", "depth", "gamma", "frames",
              "tone pixels", "differing", "others", "differing", "channels", "max diff");
  for (std::size_t d = 0; d < kDepths.size(); ++d) {
    const bool is_float = kDepths[d].format == PF_PixelFormat_ARGB128;
    for (int g = 0; g < 2; ++g) {
      const Tally& t = tallies[d][static_cast<std::size_t>(g)];
      const bool ok = t.differing_channels == 0;
      equal = equal && ok;
      std::printf("%-7s %-6s %6d %12" PRId64 " %10" PRId64 " %12" PRId64 " %10" PRId64
                  " %10" PRId64 " %6" PRId64 " %s",
                  kDepths[d].name, g == 0 ? "1" : "others", t.frames, t.tone_pixels,
                  t.differing_tone_pixels, t.other_pixels, t.differing_other_pixels,
                  t.differing_channels, t.max_difference, is_float ? "ulp" : "units");
      if (is_float && t.max_difference > 0) std::printf(" (%.2g)", t.max_float_difference);
      std::printf("%s\n", ok ? "" : "  DIFFERENT");
    }
  }
  std::printf("Every value must be equal.\n");
  return equal ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "write" && mode != "compare") {
    std::fprintf(stderr, "usage: %s write|compare <frame file>\n", argc > 0 ? argv[0] : "cross_build_frames");
    return 2;
  }
  const auto frames = Render(QV_PLUGIN_FILE);
  if (frames.empty()) return 1;
  if (mode == "write") return Write(argv[2], frames) ? 0 : 1;
  const auto theirs = Read(argv[2], frames);
  if (theirs.empty()) return 1;
  return Compare(frames, theirs);
}
