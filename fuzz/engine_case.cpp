#include "engine_case.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <sstream>

#include "byte_source.h"
#include "exact_buffer.h"
#include "mapper_cache.h"
#include "pixels.h"
#include "reference.h"

namespace qv::fuzz {
namespace {

// Guard bytes around the output buffer; the whole fenced buffer is compared.
constexpr std::size_t kGuardBytes = 64;

// Bytes per pixel of a view's depth; an unknown depth gets float-sized pixels
// so its buffer is as large as any the engine could mistake it for.
std::size_t PixelSize(PixelDepth depth) {
  switch (depth) {
    case kDepth8:
      return sizeof(Pixel8);
    case kDepth16:
      return sizeof(Pixel16);
    default:
      return sizeof(PixelFloat);
  }
}

std::size_t PixelCount(const ViewSpec& v) {
  if (v.width <= 0 || v.height <= 0) return 0;
  return (static_cast<std::size_t>(v.height) - 1) * static_cast<std::size_t>(v.stride) +
         static_cast<std::size_t>(v.width);
}

std::int32_t Extent(ByteSource& in) {
  // Mostly small, so a run covers many cases; sometimes a few hundred.
  return static_cast<std::int32_t>(in.Byte() < 224 ? in.Range(0, 24) : in.Range(0, 300));
}

PixelDepth DecodeDepth(ByteSource& in) {
  const std::uint8_t selector = in.Byte();
  // A 16-bit case builds a 32769-entry table per mapper, many times the rest
  // of a case's work: one ordinary case in 32 is 16-bit, so that a run stays
  // quick; 8-bit and float cases share the others.
  if (selector < 208) return selector % 32 == 0 ? kDepth16 : selector % 2 == 0 ? kDepth8 : kDepthFloat;
  return in.Int(-1, 3);
}

ViewSpec DecodeView(ByteSource& in, PixelDepth depth, std::int32_t width, std::int32_t height) {
  ViewSpec v;
  v.depth = depth;
  v.width = width;
  v.height = height;
  const auto padding = static_cast<std::int32_t>(in.Byte() < 240 ? in.Range(0, 16) : in.Range(0, 300));
  v.stride = width + std::max(Beside(padding, height), std::min(padding, 16));
  v.null_data = in.Byte() == 0xFF;
  return v;
}

std::int32_t RectCoordinate(ByteSource& in, std::int32_t extent) {
  return static_cast<std::int32_t>(in.Range(-4, static_cast<std::int64_t>(extent) + 4));
}

PixelRect DecodeRect(ByteSource& in, const ViewSpec& v) {
  switch (in.Byte() % 8) {
    case 0:
    case 1:
    case 2:
      return {0, 0, v.width, v.height};
    case 3:
    case 4:
    case 5:
      return {RectCoordinate(in, v.width), RectCoordinate(in, v.height), RectCoordinate(in, v.width),
              RectCoordinate(in, v.height)};
    default:
      return {in.Int(-4, 8), in.Int(-4, 8), in.Int(-4, 400), in.Int(-4, 400)};
  }
}

PixelFloat DecodeColour(ByteSource& in, bool wild) {
  if (!wild || in.Byte() < 192) return FromPixel8({255, in.Byte(), in.Byte(), in.Byte()});
  return {in.Float(0, 1), in.Float(0, 1), in.Float(0, 1), in.Float(0, 1)};
}

// Wild settings draw every value from the awkward ones too; tame settings
// stay near the host's ranges, where the reference can check every pixel.
ToneParams DecodeParams(ByteSource& in) {
  const bool wild = in.Byte() < 96;
  const auto real = [&](double lo, double hi) { return wild ? in.Double(lo, hi) : in.Uniform(lo, hi); };
  ToneParams p{};
  p.baseOn = wild ? in.Int(1, 6) : static_cast<BaseOn>(in.Range(1, 6));
  p.tones = wild ? in.Int(1, 4) : static_cast<ToneCount>(in.Range(1, 4));
  for (PixelFloat* colour : {&p.highlights, &p.brights, &p.midtones, &p.darktones, &p.shadows}) {
    *colour = DecodeColour(in, wild);
  }
  p.inputBlack = real(-0.2, 0.6);
  p.inputWhite = real(0.4, 1.2);
  p.gamma = real(0.01, 10);
  p.outputBlack = real(-0.2, 0.6);
  p.outputWhite = real(0.4, 1.2);
  p.highlightsOpacity = real(-0.2, 1.2);
  p.shadowsOpacity = real(-0.2, 1.2);
  // Blend is off in most frames; test both ways often.
  p.blend = in.Bool() ? 0.0 : real(-0.2, 1.2);
  return p;
}

// The buffers of a case, kept for the next.
struct Buffers {
  ExactBuffer input, input_before, whole, again, banded, fast;
};

std::span<std::uint8_t> InputBytes(const EngineCase& c, ExactBuffer& buffer) {
  const std::span<std::uint8_t> bytes = buffer.Resize(PixelCount(c.input) * PixelSize(c.input.depth));
  FillPixels(bytes, c.input.depth, c.pixels);
  return bytes;
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

std::uint8_t Sentinel(std::size_t i) { return static_cast<std::uint8_t>(0xA5 ^ (i * 31)); }

// The sentinels repeat every 256 bytes: one period, to copy and compare whole.
struct SentinelPeriod {
  SentinelPeriod() {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = Sentinel(i);
  }
  std::array<std::uint8_t, 256> bytes;
};
const SentinelPeriod kSentinels;

// Whether bytes [at, at + 256) of `bytes` (at a multiple of 256, the run in
// range) all hold their sentinels.
bool Untouched(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::memcmp(bytes.data() + at, kSentinels.bytes.data(), kSentinels.bytes.size()) == 0;
}

// An output buffer fenced by guard bytes, every byte a known sentinel.
struct FencedOutput {
  FencedOutput(const ViewSpec& shape, ExactBuffer& buffer)
      : shape(shape), bytes(buffer.Resize(2 * kGuardBytes + PixelCount(shape) * PixelSize(shape.depth))) {
    for (std::size_t at = 0; at < bytes.size(); at += kSentinels.bytes.size()) {
      std::memcpy(bytes.data() + at, kSentinels.bytes.data(), std::min(kSentinels.bytes.size(), bytes.size() - at));
    }
  }
  ImageView View() {
    return {shape.depth, shape.null_data ? nullptr : bytes.data() + kGuardBytes, shape.width, shape.height, shape.stride};
  }
  ViewSpec shape;
  std::span<std::uint8_t> bytes;
};

// The rectangle a correct pass writes: the request clipped to the input, or
// nothing when the call must write nothing.
PixelRect WritableRect(const EngineCase& c) {
  const PixelDepth depth = c.settings.depth;
  const bool writes = depth >= kDepth8 && depth <= kDepthFloat && c.input.depth == depth && c.output.depth == depth &&
                      c.input.width == c.output.width && c.input.height == c.output.height && !c.input.null_data &&
                      !c.output.null_data;
  if (!writes) return {0, 0, 0, 0};
  const PixelRect r{std::max(c.rect.left, 0), std::max(c.rect.top, 0), std::min(c.rect.right, c.input.width),
                    std::min(c.rect.bottom, c.input.height)};
  return r.Empty() ? PixelRect{0, 0, 0, 0} : r;
}

bool Inside(const PixelRect& r, std::int64_t x, std::int64_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void CheckFence(const FencedOutput& out, const PixelRect& writable, std::vector<std::string>& problems) {
  const std::size_t pixel = PixelSize(out.shape.depth);
  const std::size_t pixels_end = out.bytes.size() - kGuardBytes;
  for (std::size_t i = 0; i < out.bytes.size(); ++i) {
    const std::size_t period = kSentinels.bytes.size();
    if (i % period == 0 && i + period <= out.bytes.size() && Untouched(out.bytes, i)) {
      i += period - 1;
      continue;
    }
    if (out.bytes[i] == Sentinel(i)) continue;
    bool allowed = false;
    if (i >= kGuardBytes && i < pixels_end && out.shape.stride > 0) {
      const std::size_t p = (i - kGuardBytes) / pixel;
      const auto y = static_cast<std::int64_t>(p / static_cast<std::size_t>(out.shape.stride));
      const auto x = static_cast<std::int64_t>(p % static_cast<std::size_t>(out.shape.stride));
      allowed = Inside(writable, x, y);
    }
    if (!allowed) {
      std::ostringstream line;
      line << "output byte " << i << " outside the clipped rectangle was written";
      if (i < kGuardBytes || i >= pixels_end) line << " (guard byte)";
      problems.push_back(line.str());
      return;  // one report per buffer is enough
    }
  }
}

// ---- The independent reference --------------------------------------------

bool Finite(const PixelFloat& p) {
  return std::isfinite(p.alpha) && std::isfinite(p.red) && std::isfinite(p.green) && std::isfinite(p.blue);
}

// Settings the per-pixel reference transcribes: a ramp the host can choose,
// finite values, real powers of both black and white points and a curve with
// a non-zero span.
bool ReferenceCovers(const ToneParams& p) {
  if (p.tones < kMonotone || p.tones > kPentone) return false;
  for (const PixelFloat* c : {&p.highlights, &p.brights, &p.midtones, &p.darktones, &p.shadows}) {
    if (!Finite(*c)) return false;
  }
  for (double v : {p.inputBlack, p.inputWhite, p.gamma, p.outputBlack, p.outputWhite, p.highlightsOpacity,
                   p.shadowsOpacity, p.blend}) {
    if (!std::isfinite(v) || std::fabs(v) > 1e6) return false;
  }
  if (p.gamma < 0.01 || p.inputBlack < 0 || p.inputWhite < 0) return false;
  const double white = p.inputWhite == p.inputBlack ? p.inputWhite + 0.000001 : p.inputWhite;
  const double exponent = 1.0 / p.gamma;
  const double d = std::pow(p.inputBlack, exponent), e = std::pow(white, exponent);
  const double span = e - d;
  return std::isfinite(d) && std::isfinite(e) && span != 0 && std::isfinite((p.outputWhite - p.outputBlack) / span) &&
         std::isfinite((p.outputBlack * e - p.outputWhite * d) / span);
}

template <class Pixel>
std::string Text(const Pixel& p) {
  std::ostringstream s;
  s.precision(9);
  s << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
  return s.str();
}

template <class Pixel>
bool SameValue(const Pixel& a, const Pixel& b) {
  if constexpr (std::is_same_v<Pixel, PixelFloat>) {
    const auto same = [](float x, float y) {
      return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
    };
    return same(a.alpha, b.alpha) && same(a.red, b.red) && same(a.green, b.green) && same(a.blue, b.blue);
  } else {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
}

template <class Pixel>
void CompareWithReference(const EngineCase& c, std::span<const std::uint8_t> input, const FencedOutput& out,
                          const PixelRect& writable, std::vector<std::string>& problems) {
  const test::Reference reference(c.settings.params);
  for (std::int32_t y = writable.top; y < writable.bottom; ++y) {
    for (std::int32_t x = writable.left; x < writable.right; ++x) {
      // Each view walks its rows by its own stride.
      const auto at = [x, y](const ViewSpec& v) {
        return (static_cast<std::size_t>(y) * static_cast<std::size_t>(v.stride) + static_cast<std::size_t>(x)) *
               sizeof(Pixel);
      };
      Pixel source, toned;
      std::memcpy(&source, input.data() + at(c.input), sizeof source);
      std::memcpy(&toned, out.bytes.data() + kGuardBytes + at(c.output), sizeof toned);
      Pixel expected;
      if constexpr (std::is_same_v<Pixel, PixelFloat>) {
        expected = reference.ToneFloat(source);
      } else {
        expected = reference.ToneInteger(source);
      }
      if (!SameValue(toned, expected)) {
        std::ostringstream line;
        line.precision(9);
        line << "pixel (" << x << ", " << y << ") differs from the reference: source " << Text(source) << ", toned "
             << Text(toned) << ", reference " << Text(expected);
        problems.push_back(line.str());
        return;
      }
    }
  }
}

// ---- Running ----------------------------------------------------------------

// Calls fn and reports an escaping exception as a problem.
template <class Fn>
bool NoThrow(const char* what, std::vector<std::string>& problems, Fn&& fn) {
  try {
    fn();
    return true;
  } catch (...) {
    problems.push_back(std::string(what) + " threw");
    return false;
  }
}

// The first byte where two fenced outputs of the same view differ, if any.
// Float pixels compare by value, with any NaN equal to any other: C++ leaves
// a NaN's sign and payload to the order of the operands, so two correct
// passes may write different NaNs. Every other byte compares exactly.
std::optional<std::size_t> Difference(const FencedOutput& a, const FencedOutput& b) {
  const bool floats = a.shape.depth == kDepthFloat;
  const std::size_t pixels_end = a.bytes.size() - kGuardBytes;
  for (std::size_t i = 0; i < a.bytes.size(); ++i) {
    if (floats && i >= kGuardBytes && i + sizeof(float) <= pixels_end && (i - kGuardBytes) % sizeof(float) == 0) {
      float x, y;
      std::memcpy(&x, &a.bytes[i], sizeof x);
      std::memcpy(&y, &b.bytes[i], sizeof y);
      if (!(std::isnan(x) && std::isnan(y)) && std::memcmp(&x, &y, sizeof x) != 0) return i;
      i += sizeof(float) - 1;
    } else if (a.bytes[i] != b.bytes[i]) {
      return i;
    }
  }
  return std::nullopt;
}

// Both outputs' bytes of the pixel (or guard byte) at offset i, in hex.
std::string Show(const FencedOutput& a, const FencedOutput& b, std::size_t i) {
  const std::size_t pixel = PixelSize(a.shape.depth);
  const bool in_pixels = i >= kGuardBytes && i < a.bytes.size() - kGuardBytes;
  const std::size_t start = in_pixels ? kGuardBytes + (i - kGuardBytes) / pixel * pixel : i;
  const std::size_t end = std::min(start + (in_pixels ? pixel : 1), a.bytes.size());
  std::ostringstream s;
  s << ": at byte " << i << ", plain" << std::hex;
  for (std::size_t j = start; j < end; ++j) s << ' ' << +a.bytes[j];
  s << ", fast";
  for (std::size_t j = start; j < end; ++j) s << ' ' << +b.bytes[j];
  return s.str();
}

// A mapper on a variant, built or found in the cache. Construction may fail
// only by running out of memory, which is not a broken rule; anything else
// thrown is.
const ToneMapper* Build(const ToneMapperSettings& settings, PassVariant variant, std::vector<std::string>& problems) {
  thread_local MapperCache cache;
  if (const ToneMapper* mapper = cache.Find(settings, variant)) return mapper;
  std::unique_ptr<ToneMapper> mapper;
  try {
    mapper = std::make_unique<ToneMapper>(settings, variant);
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (...) {
    problems.push_back("ToneMapper construction threw something other than std::bad_alloc");
    return nullptr;
  }
  if (mapper->passVariant() != variant) {
    problems.push_back(std::string("asked for the ") + PassVariantName(variant) + " passes, got the " +
                       PassVariantName(mapper->passVariant()));
  }
  return cache.Keep(settings, variant, std::move(mapper));
}

// Horizontal band i of k over the rows of rect, in 64 bits so extreme
// coordinates cannot overflow.
PixelRect Band(const PixelRect& rect, std::int32_t i, std::int32_t k) {
  const std::int64_t h = static_cast<std::int64_t>(rect.bottom) - rect.top;
  const auto row = [&](std::int64_t j) { return static_cast<std::int32_t>(rect.top + h * j / k); };
  return {rect.left, row(i), rect.right, row(i + 1)};
}

}  // namespace

EngineCase DecodeEngineCase(std::span<const std::uint8_t> bytes) {
  ByteSource in(bytes);
  EngineCase c;
  c.settings.depth = DecodeDepth(in);
  c.settings.params = DecodeParams(in);
  const std::int32_t width = Extent(in), height = Beside(Extent(in), width);
  const std::uint8_t mismatch = in.Byte();
  c.input = DecodeView(in, mismatch == 1 ? DecodeDepth(in) : c.settings.depth, width, height);
  const bool same_size = mismatch != 2;
  const std::int32_t output_width = same_size ? width : Extent(in);
  c.output = DecodeView(in, mismatch == 3 ? DecodeDepth(in) : c.input.depth, output_width,
                        same_size ? height : Beside(Extent(in), output_width));
  c.rect = DecodeRect(in, c.input);
  c.bands = static_cast<std::int32_t>(in.Range(1, 8));
  c.pixels = PixelSource::Decode(in);
  return c;
}

std::vector<std::string> CheckEngineCase(const EngineCase& c, EngineCoverage* coverage) {
  std::vector<std::string> problems;
  // The plain passes are the reference for every faster variant.
  const ToneMapper* mapper = Build(c.settings, PassVariant::kScalar, problems);
  if (mapper == nullptr) return problems;

  thread_local Buffers buffers;
  const std::span<std::uint8_t> input = InputBytes(c, buffers.input);
  const std::span<std::uint8_t> input_before = buffers.input_before.Resize(input.size());
  std::copy(input.begin(), input.end(), input_before.begin());
  const ImageView in{c.input.depth, c.input.null_data ? nullptr : input.data(), c.input.width, c.input.height,
                     c.input.stride};
  const PixelRect writable = WritableRect(c);

  FencedOutput whole(c.output, buffers.whole);
  if (!NoThrow("Process", problems, [&] { mapper->Process(in, whole.View(), c.rect); })) return problems;
  CheckFence(whole, writable, problems);

  FencedOutput again(c.output, buffers.again);
  NoThrow("Process", problems, [&] { mapper->Process(in, again.View(), c.rect); });
  if (!SameBytes(again.bytes, whole.bytes)) problems.push_back("the same call gave different bytes the second time");

  if (!c.rect.Empty()) {
    FencedOutput banded(c.output, buffers.banded);
    NoThrow("Process", problems, [&] {
      for (std::int32_t i = 0; i < c.bands; ++i) mapper->Process(in, banded.View(), Band(c.rect, i, c.bands));
    });
    if (!SameBytes(banded.bytes, whole.bytes)) {
      problems.push_back("toning in bands differs from toning the whole rectangle");
    }
  }

  // One faster variant per case, taken in turn by the pixel seed: every
  // variant meets every kind of case, and a long run stays quick (a 16-bit
  // case builds a 32769-entry table per variant).
  std::vector<PassVariant> fast;
  for (const PassVariant variant : kPassVariants) {
    if (variant != PassVariant::kScalar && PassVariantAvailable(variant)) fast.push_back(variant);
  }
  int variants = 0;
  if (!fast.empty()) {
    const PassVariant variant = fast[c.pixels.seed % fast.size()];
    if (const ToneMapper* mapper_fast = Build(c.settings, variant, problems)) {
      FencedOutput out(c.output, buffers.fast);
      NoThrow("Process", problems, [&] { mapper_fast->Process(in, out.View(), c.rect); });
      if (const auto at = Difference(whole, out)) {
        problems.push_back(std::string("the ") + PassVariantName(variant) + " passes differ from the plain passes" +
                           Show(whole, out, *at));
      }
      ++variants;
    }
  }
  if (!SameBytes(input, input_before)) problems.push_back("the input was written");

  const bool compare = !writable.Empty() && ReferenceCovers(c.settings.params);
  if (coverage != nullptr) *coverage = {!writable.Empty(), compare, variants};
  if (compare) {
    switch (c.settings.depth) {
      case kDepth8:
        CompareWithReference<Pixel8>(c, input, whole, writable, problems);
        break;
      case kDepth16:
        CompareWithReference<Pixel16>(c, input, whole, writable, problems);
        break;
      case kDepthFloat:
        CompareWithReference<PixelFloat>(c, input, whole, writable, problems);
        break;
      default:
        break;
    }
  }
  return problems;
}

std::string Describe(const EngineCase& c) {
  const ToneParams& p = c.settings.params;
  std::ostringstream s;
  s.precision(17);
  s << "depth " << c.settings.depth << ", base on " << p.baseOn << ", tones " << p.tones << ", levels " << p.inputBlack
    << ' ' << p.inputWhite << ' ' << p.gamma << ' ' << p.outputBlack << ' ' << p.outputWhite << ", opacity "
    << p.highlightsOpacity << ' ' << p.shadowsOpacity << ", blend " << p.blend << ", colours";
  for (const PixelFloat* colour : {&p.shadows, &p.darktones, &p.midtones, &p.brights, &p.highlights}) {
    s << " (" << colour->alpha << ' ' << colour->red << ' ' << colour->green << ' ' << colour->blue << ')';
  }
  s << "; input " << c.input.width << 'x' << c.input.height << " stride " << c.input.stride << " depth "
    << c.input.depth << (c.input.null_data ? " null" : "") << "; output " << c.output.width << 'x' << c.output.height
    << " stride " << c.output.stride << " depth " << c.output.depth << (c.output.null_data ? " null" : "") << "; rect "
    << c.rect.left << ',' << c.rect.top << ',' << c.rect.right << ',' << c.rect.bottom << "; " << c.bands
    << " bands; " << (c.pixels.raw ? "raw pixels" : "ordinary pixels");
  return s.str();
}

}  // namespace qv::fuzz
