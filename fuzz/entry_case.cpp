#include "entry_case.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <sstream>
#include <variant>

#include "byte_source.h"
#include "mapper_cache.h"
#include "engine/tone_mapper.h"
#include "shell/entry_point.h"
#include "shell/params.h"
#include "shell/pipl.h"
#include "worlds.h"

namespace qv::fuzz {
namespace {

constexpr PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_BGRA32, PF_PixelFormat_ARGB128,
                                       QV_PixelFormat_BGRA128};

// Keyframes are two frames apart, so frame 1 falls halfway between them.
constexpr A_long kLaterKeyFrame = 2;

std::int32_t LayerExtent(ByteSource& in) {
  return static_cast<std::int32_t>(in.Byte() < 224 ? in.Range(0, 24) : in.Range(0, 200));
}

// The engine's toning of a frame, built once for each set of values a case's
// frames have (and kept for the cases after it).
const ToneMapper& ExpectedMapper(const ToneMapperSettings& settings) {
  thread_local MapperCache cache;
  const PassVariant variant = BestPassVariant();
  if (const ToneMapper* mapper = cache.Find(settings, variant)) return *mapper;
  return *cache.Keep(settings, variant, std::make_unique<ToneMapper>(settings, variant));
}

// A rectangle anywhere near the layer, or (for the host's request, which it
// clips itself) anywhere at all.
PF_LRect DecodeRect(ByteSource& in, bool any) {
  if (any) return {in.Int(-8, 40), in.Int(-8, 40), in.Int(-8, 260), in.Int(-8, 260)};
  const auto c = [&in] { return static_cast<A_long>(in.Range(-8, 260)); };
  return {c(), c(), c(), c()};
}

simhost::ParamValue DecodeValue(ByteSource& in, const ParamKind& kind) {
  if (const auto* popup = std::get_if<PopupParam>(&kind)) {
    return simhost::PopupValue{in.Int(1, popup->NumChoices())};
  }
  if (std::holds_alternative<ColorParam>(kind)) {
    return PF_Pixel{in.Byte(), in.Byte(), in.Byte(), in.Byte()};
  }
  if (const auto* slider = std::get_if<FloatSliderParam>(&kind)) {
    // Around the slider's range: the host lets a user type far beyond it.
    const double span = static_cast<double>(slider->slider_max) - slider->slider_min;
    return in.Double(slider->slider_min - span / 4, slider->slider_max + span / 4);
  }
  // A percentage: mostly whole percents a little past 0 to 100, sometimes any
  // 16.16 value.
  if (in.Byte() < 192) return simhost::FixedValue{FixedFromWhole(static_cast<A_long>(in.Range(-20, 120)))};
  return simhost::FixedValue{in.Raw<PF_Fixed>()};
}

// ---- What the effect should have rendered -----------------------------------

ToneParams ExpectedParams(const simhost::Host& host, A_long time) {
  const auto popup = [&](ParamIndex i) { return std::get<simhost::PopupValue>(host.ParamValueAt(i, time)).value; };
  const auto colour = [&](ParamIndex i) {
    const PF_Pixel c = std::get<PF_Pixel>(host.ParamValueAt(i, time));
    return FromPixel8(Pixel8{c.alpha, c.red, c.green, c.blue});
  };
  const auto slider = [&](ParamIndex i) { return std::get<double>(host.ParamValueAt(i, time)); };
  const auto fraction = [&](ParamIndex i) {
    return static_cast<double>(std::get<simhost::FixedValue>(host.ParamValueAt(i, time)).value) / 65536.0 * 0.01;
  };
  ToneParams p{};
  p.baseOn = popup(kParamBaseOn);
  p.tones = popup(kParamTones);
  p.highlights = colour(kParamHighlights);
  p.brights = colour(kParamBrights);
  p.midtones = colour(kParamMidtones);
  p.darktones = colour(kParamDarktones);
  p.shadows = colour(kParamShadows);
  p.inputBlack = slider(kParamInputBlack);
  p.inputWhite = slider(kParamInputWhite);
  p.gamma = slider(kParamGamma);
  p.outputBlack = slider(kParamOutputBlack);
  p.outputWhite = slider(kParamOutputWhite);
  p.highlightsOpacity = fraction(kParamHighlightsOpacity);
  p.shadowsOpacity = fraction(kParamShadowsOpacity);
  p.blend = fraction(kParamBlend);
  return p;
}

ImageView ViewOf(simhost::World& world, PixelDepth depth) {
  const PF_EffectWorld& w = *world.effect_world();
  return {depth, w.data, w.width, w.height, w.rowbytes / world.bytes_per_pixel()};
}

simhost::World MakeLayer(const EntryCase& c) {
  return MakeWorld(c.options.layer_width, c.options.layer_height, c.options.pixel_format, c.options.row_padding_bytes,
                   c.pixels);
}

void CheckFrame(const EntryCase& c, simhost::Host& host, const simhost::World& layer, const simhost::FrameReport& frame,
                std::vector<std::string>& problems, EntryCoverage& coverage) {
  const std::string at = "frame " + std::to_string(frame.frame) + ": ";
  if (frame.pre_render_err != PF_Err_NONE) {
    problems.push_back(at + "pre-render failed with " + std::to_string(frame.pre_render_err));
    return;
  }
  if (!frame.delete_called) problems.push_back(at + "the pre-render data was not disposed of");
  if (!frame.rendered) return;

  const PF_Err expected_err = c.unknown_format ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
  if (frame.render_err != expected_err) {
    problems.push_back(at + "render returned " + std::to_string(frame.render_err) + ", expected " +
                       std::to_string(expected_err));
  }
  if (frame.render_err == expected_err)
    ++(frame.render_err == PF_Err_NONE ? coverage.frames_rendered : coverage.renders_refused);
  if (!frame.output) return;  // failed before the output was checked out
  simhost::World untouched = *frame.output;
  untouched.FillPixelBytes(c.options.output_fill);
  if (frame.render_err != PF_Err_NONE) {
    if (!frame.output->SamePixels(untouched)) problems.push_back(at + "a failed render wrote output pixels");
    return;
  }
  if (frame.layer_checkouts.size() != 1) {
    problems.push_back(at + "pre-render checked out the layer " + std::to_string(frame.layer_checkouts.size()) +
                       " times");
    return;
  }
  // The input as the host handed it out: the layer cut to the granted area.
  simhost::World input = layer.Crop(frame.layer_checkouts.front().result.result_rect, 0);
  const PixelDepth depth = DepthOf(c.options.pixel_format);
  simhost::World expected = untouched;
  const ImageView in = ViewOf(input, depth);
  // A host that reports no thread asks for no band: nothing is toned. Nor is
  // an empty input, and then no mapper (at 16 bits, most of a case's work) is
  // built.
  if (c.options.num_threads > 0 && input.width() > 0 && input.height() > 0) {
    ExpectedMapper({depth, ExpectedParams(host, frame.time)}).Process(in, ViewOf(expected, depth), in.Bounds());
  }
  if (input.width() > 0 && input.height() > 0 && input.width() == expected.width() &&
      input.height() == expected.height()) {
    ++coverage.frames_compared;
  }
  if (!frame.output->SamePixels(expected)) {
    problems.push_back(at + "the output differs from the engine's toning of the input");
  }
}

}  // namespace

EntryCase DecodeEntryCase(std::span<const std::uint8_t> bytes) {
  ByteSource in(bytes);
  EntryCase c;
  simhost::HostOptions& o = c.options;
  o.layer_width = LayerExtent(in);
  o.layer_height = Beside(LayerExtent(in), o.layer_width);
  // A 16-bit frame builds a 32769-entry table in the effect (and one to check
  // it by), many times the rest of a small frame's work, with the page faults
  // of two fresh quarter-megabyte buffers: one layer in 64 is 16-bit, so that
  // a run stays quick (the engine's own target builds those tables far more
  // often).
  const std::uint8_t format = in.Byte();
  o.pixel_format = format >= 252 ? PF_PixelFormat_ARGB64 : kFormats[format % std::size(kFormats)];
  o.row_padding_bytes = static_cast<A_long>(in.Range(0, 4) * 16);
  // Mostly one render thread, each more a hand-over between threads: often
  // up to 8, one case in 16 any count to 70 (or none).
  const std::uint8_t threads = in.Byte();
  o.num_threads = static_cast<A_long>(threads < 128 ? 1 : threads < 240 ? in.Range(2, 8) : in.Range(0, 70));
  if (in.Byte() < 48) o.request_rect = DecodeRect(in, true);
  if (in.Byte() < 32) o.initial_output_rect = DecodeRect(in, false);
  o.output_fill = in.Byte();
  if (in.Byte() < 12) {
    const auto code = in.Raw<PF_PixelFormat>();
    c.unknown_format = simhost::BytesPerPixel(code) != 0 ? PF_PixelFormat_INVALID : code;
  }
  // Mostly one frame: the host keeps the effect from case to case, so frames
  // follow frames anyway; two or three for keyframes within a case.
  c.frames = static_cast<std::int32_t>(in.Byte() < 160 ? 1 : in.Range(2, 3));
  c.dropped_frames = in.Byte() & in.Byte();  // each frame dropped one time in four
  for (const ParamFacts& facts : kParamFacts) {
    if (std::holds_alternative<GroupStartParam>(facts.kind) || std::holds_alternative<GroupEndParam>(facts.kind)) {
      continue;
    }
    ParamSetting setting{facts.index, DecodeValue(in, facts.kind), std::nullopt};
    if (in.Byte() < 32) setting.later = DecodeValue(in, facts.kind);
    c.params.push_back(std::move(setting));
  }
  c.pixels = PixelSource::Decode(in);
  return c;
}

struct EntryHost::Session {
  explicit Session(const simhost::HostOptions& options) : host(&EntryPointFunc, PiplBytes(), options) {}
  simhost::Host host;
  std::vector<simhost::HandleInfo> handles_after_setup;
};

EntryHost::EntryHost(int cases_per_setup) : cases_per_setup_(std::max(cases_per_setup, 1)) {}
EntryHost::~EntryHost() = default;

std::vector<std::string> EntryHost::Close() {
  std::vector<std::string> problems;
  if (!session_) return problems;
  simhost::Host& host = session_->host;
  try {
    if (const PF_Err err = host.GlobalSetdown(); err != PF_Err_NONE) {
      problems.push_back("GLOBAL_SETDOWN returned " + std::to_string(err));
    }
    for (const std::string& v : host.Violations()) problems.push_back("host: " + v);
    if (!host.LiveHandles().empty()) problems.push_back("handles outlived global setdown");
  } catch (const std::exception& e) {
    problems.push_back(std::string("global setdown threw: ") + e.what());
  }
  session_.reset();
  cases_ = 0;
  return problems;
}

std::vector<std::string> EntryHost::Check(const EntryCase& c, EntryCoverage* coverage) {
  std::vector<std::string> problems;
  const auto expect_success = [&](const char* command, PF_Err err) {
    if (err != PF_Err_NONE) problems.push_back(std::string(command) + " returned " + std::to_string(err));
  };
  if (cases_ == cases_per_setup_) problems = Close();
  EntryCoverage seen;
  try {
    if (!session_) {
      session_ = std::make_unique<Session>(c.options);
      expect_success("GLOBAL_SETUP", session_->host.GlobalSetup());
      expect_success("PARAMS_SETUP", session_->host.ParamsSetup());
      session_->handles_after_setup = session_->host.LiveHandles();
    }
    ++cases_;
    simhost::Host& host = session_->host;
    host.options() = c.options;
    const simhost::World layer = MakeLayer(c);
    host.SetInput(layer);
    host.SetPixelFormatAnswer(c.unknown_format);
    for (const ParamSetting& p : c.params) {
      host.SetParam(p.index, p.value);  // a key at time 0, in place of the last case's
      if (p.later) host.SetParamKey(p.index, host.TimeOf(kLaterKeyFrame), *p.later);
    }
    expect_success("UPDATE_PARAMS_UI", host.UpdateParamsUI());
    for (std::int32_t f = 0; f < c.frames; ++f) {
      const bool dropped = (c.dropped_frames >> f) & 1;
      const simhost::FrameReport frame = dropped ? host.PreRenderOnly(f) : host.RenderFrame(f);
      CheckFrame(c, host, layer, frame, problems, seen);
    }
    for (const std::string& v : host.Violations()) problems.push_back("host: " + v);
    const auto handles = host.LiveHandles();
    const auto& before = session_->handles_after_setup;
    if (handles.size() != before.size() ||
        !std::equal(handles.begin(), handles.end(), before.begin(),
                    [](const simhost::HandleInfo& a, const simhost::HandleInfo& b) { return a.id == b.id; })) {
      problems.push_back("the case left handles other than those of setup alive");
    }
    host.ClearViolations();
    host.ClearCalls();
  } catch (const std::exception& e) {
    problems.push_back(std::string("the session threw: ") + e.what());
  }
  // A session that broke a rule is not trusted with the next case.
  if (!problems.empty()) {
    for (std::string& p : Close()) problems.push_back(std::move(p));
  }
  if (coverage != nullptr) *coverage = seen;
  return problems;
}

std::vector<std::string> CheckEntryCase(const EntryCase& c, EntryCoverage* coverage) {
  EntryHost host(1);
  std::vector<std::string> problems = host.Check(c, coverage);
  for (std::string& p : host.Close()) problems.push_back(std::move(p));
  return problems;
}

std::string Describe(const EntryCase& c) {
  const simhost::HostOptions& o = c.options;
  std::ostringstream s;
  s.precision(17);
  s << "layer " << o.layer_width << 'x' << o.layer_height << " format " << simhost::BitsPerChannel(o.pixel_format)
    << "-bit (0x" << std::hex << static_cast<std::uint32_t>(o.pixel_format) << std::dec << ") padding "
    << o.row_padding_bytes << ", " << o.num_threads << " threads, " << c.frames << " frames (dropped mask "
    << c.dropped_frames << ")";
  if (o.request_rect) {
    s << ", request " << o.request_rect->left << ',' << o.request_rect->top << ',' << o.request_rect->right << ','
      << o.request_rect->bottom;
  }
  const PF_LRect& r = o.initial_output_rect;
  s << ", output rect " << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom;
  if (c.unknown_format)
    s << ", format answer 0x" << std::hex << static_cast<std::uint32_t>(*c.unknown_format) << std::dec;
  s << "; values";
  for (const ParamSetting& p : c.params) {
    s << ' ' << p.index << '=';
    std::visit(
        [&s](const auto& v) {
          using V = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<V, simhost::PopupValue>)
            s << "popup " << v.value;
          else if constexpr (std::is_same_v<V, simhost::FixedValue>)
            s << "fixed " << v.value;
          else if constexpr (std::is_same_v<V, PF_Pixel>)
            s << "argb " << int(v.alpha) << '/' << int(v.red) << '/' << int(v.green) << '/' << int(v.blue);
          else
            s << v;
        },
        p.value);
    if (p.later) s << " (keyed)";
  }
  return s.str();
}

}  // namespace qv::fuzz
