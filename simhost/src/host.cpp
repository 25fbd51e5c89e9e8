#include "simhost/host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "host_state.h"

namespace simhost {
namespace detail {
namespace {

const char* const kCommandNames[] = {
    "ABOUT",         "GLOBAL_SETUP",          "UNUSED_0",          "GLOBAL_SETDOWN",
    "PARAMS_SETUP",  "SEQUENCE_SETUP",        "SEQUENCE_RESETUP",  "SEQUENCE_FLATTEN",
    "SEQUENCE_SETDOWN", "DO_DIALOG",          "FRAME_SETUP",       "RENDER",
    "FRAME_SETDOWN", "USER_CHANGED_PARAM",    "UPDATE_PARAMS_UI",  "EVENT",
    "GET_EXTERNAL_DEPENDENCIES", "COMPLETELY_GENERAL", "QUERY_DYNAMIC_FLAGS", "AUDIO_RENDER",
    "AUDIO_SETUP",   "AUDIO_SETDOWN",         "ARBITRARY_CALLBACK", "SMART_PRE_RENDER",
    "SMART_RENDER",  "RESERVED1",             "RESERVED2",         "RESERVED3",
    "GET_FLATTENED_SEQUENCE_DATA", "TRANSLATE_PARAMS_TO_PREFS", "RESERVED4", "SMART_RENDER_GPU",
    "GPU_DEVICE_SETUP", "GPU_DEVICE_SETDOWN"};
static_assert(std::size(kCommandNames) == PF_Cmd_NUM_CMDS);

std::string CommandName(PF_Cmd cmd) {
  if (cmd >= 0 && cmd < PF_Cmd_NUM_CMDS) return kCommandNames[cmd];
  return "command " + std::to_string(cmd);
}

constexpr char kDeleteFunctionName[] = "delete_pre_render_data_func";

}  // namespace

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && (a < 0) != (b < 0)) --q;
  return q;
}

A_long ClampToLong(std::int64_t v) {
  return static_cast<A_long>(std::clamp<std::int64_t>(v, std::numeric_limits<A_long>::min(),
                                                      std::numeric_limits<A_long>::max()));
}

}  // namespace

HostState::HostState(PF_EntryPointFunc entry_point, HostOptions host_options)
    : entry(entry_point), options(std::move(host_options)) {
  if (!entry) throw std::invalid_argument("no entry point");
  ResetCallbackTables();
  RegisterHost(this);
}

HostState::~HostState() { UnregisterHost(this); }

PF_ProgPtr HostState::EffectRef() const {
  return reinterpret_cast<PF_ProgPtr>(const_cast<int*>(&effect_token));
}

A_long HostState::TimeOf(A_long frame) const { return ClampToLong(std::int64_t{frame} * options.time_step); }

A_long HostState::ToHostTime(A_long what_time, A_u_long time_scale) const {
  return ClampToLong(FloorDiv(std::int64_t{what_time} * options.time_scale, time_scale));
}

const World& HostState::LayerAt(A_long time) const {
  if (const auto it = input_at.find(time); it != input_at.end()) return it->second;
  if (input_all) return *input_all;
  if (!blank_layer || blank_layer->width() != options.layer_width ||
      blank_layer->height() != options.layer_height || blank_layer->format() != options.pixel_format) {
    blank_layer.emplace(options.layer_width, options.layer_height, options.pixel_format);
  }
  return *blank_layer;
}

std::string HostState::CallNameLocked() const {
  return current_call >= 0 ? commands[static_cast<std::size_t>(current_call)].name : std::string();
}

void HostState::ViolationLocked(const std::string& message) {
  if (!options.strict) return;
  const std::string call = CallNameLocked();
  violations.push_back(call.empty() ? message : call + ": " + message);
}

void HostState::Violation(const std::string& message) {
  std::lock_guard lock(mu);
  ViolationLocked(message);
}

std::optional<Fault> HostState::EnterLocked(const char* op, std::string detail, long long arg) {
  const FloatControl called_in = CurrentFloatControl();
  if (const FloatControl* given = GivenFloatControlOfThread(); given && ControlsOf(called_in) != ControlsOf(*given)) {
    ViolationLocked(std::string(op) + " called in another floating-point state (" + Describe(called_in) +
                    ") than its thread was given (" + Describe(*given) + ")");
  }
  CallRecord record{op, std::move(detail), arg, current_call, false, called_in};
  std::optional<Fault> fired;
  for (ArmedFault& armed : faults) {
    const Fault& f = armed.fault;
    if (f.op != record.op || (!f.detail.empty() && f.detail != record.detail) || (f.arg && *f.arg != arg)) continue;
    if (f.scope == FaultScope::kNextCall) {
      if (current_call < 0) continue;
      if (armed.bound_call < 0) armed.bound_call = current_call;  // the first call that makes this host call
      if (armed.bound_call != current_call) continue;
    }
    if (f.scope == FaultScope::kEveryCall && current_call < 0) continue;
    ++armed.seen;
    if (!fired && (f.occurrence == 0 || armed.seen == f.occurrence)) fired = f;
  }
  record.faulted = fired.has_value();
  calls.push_back(std::move(record));
  return fired;
}

SuiteBalance* HostState::BalanceLocked(const std::string& name, A_long version) {
  if (current_call < 0) return nullptr;  // outside a plug-in call there is nothing to balance
  return &commands[static_cast<std::size_t>(current_call)].suites[SuiteKey{name, version}];
}

const World* HostState::FindWorldLocked(const PF_EffectWorld* world) const {
  for (const auto& [id, input] : input_worlds) {
    if (input.world && world == &input.record) return input.world.get();
  }
  if (output_world && world == &output_record) return output_world.get();
  if (raw_output && world == &raw_output_record) return raw_output.get();
  // A copy of a record the host handed out still names its world by the
  // pixels it describes.
  const auto same = [world](const PF_EffectWorld& record) {
    return world->data != nullptr && world->data == record.data && world->width == record.width &&
           world->height == record.height && world->rowbytes == record.rowbytes;
  };
  for (const auto& [id, input] : input_worlds) {
    if (input.world && same(*input.world->effect_world())) return input.world.get();
  }
  if (output_world && same(*output_world->effect_world())) return output_world.get();
  if (raw_output && same(*raw_output->effect_world())) return raw_output.get();
  return nullptr;
}

PF_EffectWorld HostState::WorldRecord(const World& world) const {
  PF_EffectWorld record;
  FillRecord("PF_LayerDef", record, Fill());
  const PF_EffectWorld& own = *world.effect_world();
  record.data = own.data;
  record.rowbytes = own.rowbytes;
  record.width = own.width;
  record.height = own.height;
  return record;
}

PF_ParamDef HostState::HandOut(PF_ParamDef def) const {
  std::size_t used = 0;
  switch (def.param_type) {
    case PF_Param_POPUP: used = sizeof def.u.pd; break;
    case PF_Param_COLOR: used = sizeof def.u.cd; break;
    case PF_Param_FLOAT_SLIDER: used = sizeof def.u.fs_d; break;
    case PF_Param_FIX_SLIDER: used = sizeof def.u.fd; break;
    case PF_Param_SLIDER: used = sizeof def.u.sd; break;
    case PF_Param_LAYER: used = sizeof def.u.ld; break;
    default: break;  // groups hold no value
  }
  auto* bytes = reinterpret_cast<unsigned char*>(&def.u);
  std::memset(bytes + used, Fill(), sizeof def.u - used);
  return def;
}

std::vector<HandleInfo> HostState::LiveHandlesLocked() const {
  std::vector<HandleInfo> live;
  live.reserve(live_handles.size());
  for (const auto& [id, handle] : live_handles) {
    const HandleRecord& r = handles.at(handle);
    live.push_back(HandleInfo{r.id, r.size, r.lock_count, r.created_in_call});
  }
  return live;
}

void HostState::ResetCallbackTables() {
  utils = UtilCallbacksTable(Fill());
  pre_render_callbacks = PreRenderCallbacksTable(Fill());
  smart_render_callbacks = SmartRenderCallbacksTable(Fill());
}

PF_InData HostState::MakeInData() {
  std::lock_guard lock(mu);
  PF_InData in;
  FillRecord("PF_InData", in, Fill());
  in.inter = InteractCallbacksTable(Fill());
  in.utils = &utils;
  in.effect_ref = EffectRef();
  in.current_time = TimeOf(current_frame);
  in.time_step = options.time_step;
  in.time_scale = options.time_scale;
  in.global_data = global_data;
  in.pica_basicP = options.provide_basic_suite ? ProcessBasicSuite() : nullptr;
  return in;
}

void HostState::BeginCall(std::string name, PF_Cmd cmd, Phase call_phase) {
  std::lock_guard lock(mu);
  commands.push_back(CommandRecord{name, cmd, PF_Err_NONE, {}, {}});
  current_call = static_cast<int>(commands.size()) - 1;
  phase = call_phase;
  param_checkouts.clear();
  for (ArmedFault& armed : faults) {
    if (armed.fault.scope == FaultScope::kEveryCall) armed.seen = 0;
  }
  if (cmd >= 0) {
    calls.push_back(CallRecord{"EntryPointFunc", std::move(name), cmd, current_call, false, std::nullopt});
  } else {
    calls.push_back(CallRecord{kDeleteFunctionName, "", 0, current_call, false, std::nullopt});
  }
}

void HostState::EndCall(PF_Err err) {
  std::lock_guard lock(mu);
  CommandRecord& record = commands[static_cast<std::size_t>(current_call)];
  record.err = err;
  for (const auto& [suite, balance] : record.suites) {
    if (balance.acquired != balance.released) {
      ViolationLocked("suite \"" + suite.first + "\" version " + std::to_string(suite.second) + " acquired " +
                      std::to_string(balance.acquired) + " times and released " +
                      std::to_string(balance.released) + " times");
    }
  }
  for (const auto& c : param_checkouts) {
    ViolationLocked("parameter " + std::to_string(c.index) + " checked out and not checked in");
  }
  param_checkouts.clear();
  record.live_handles = LiveHandlesLocked();
  std::erase_if(faults, [this](const ArmedFault& a) {
    return a.fault.scope == FaultScope::kNextCall && a.bound_call == current_call;
  });
  current_call = -1;
  phase = Phase::kNone;
}

PF_Err HostState::Call(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output, void* extra, Phase call_phase) {
  ResetCallbackTables();
  PF_InData in = MakeInData();
  if (cmd == PF_Cmd_GLOBAL_SETUP) in.global_data = nullptr;
  FillRecord("PF_OutData", out_data, Fill());
  out_data.my_version = 0;
  out_data.global_data = in.global_data;
  out_data.num_params = 0;
  out_data.out_flags = PF_OutFlag_NONE;
  std::memset(out_data.return_msg, 0, sizeof out_data.return_msg);
  out_data.out_flags2 = PF_OutFlag2_NONE;
  BeginCall(CommandName(cmd), cmd, call_phase);
  PF_Err err = PF_Err_INTERNAL_STRUCT_DAMAGED;
  {
    CurrentHost current(this);
    CallInThreadState("EntryPointFunc", [&] {
      try {
        err = entry(cmd, &in, &out_data, params, output, extra);
      } catch (...) {
        Violation("an exception left EntryPointFunc");
      }
    });
  }
  EndCall(err);
  // The plug-in may replace its global data in any command; after setdown there is none.
  global_data = cmd == PF_Cmd_GLOBAL_SETDOWN ? nullptr : out_data.global_data;
  last_error = err;
  return err;
}

PF_ParamDef HostState::LayerDefinition(A_long time) const {
  PF_ParamDef def{};
  def.param_type = PF_Param_LAYER;
  // A description of the layer: its size, no pixels outside a render.
  FillRecord("PF_LayerDef", def.u.ld, Fill());
  const World& layer = LayerAt(time);
  def.u.ld.data = nullptr;
  def.u.ld.rowbytes = 0;
  def.u.ld.width = layer.width();
  def.u.ld.height = layer.height();
  return def;
}

std::vector<PF_ParamDef> HostState::CurrentDefinitions() {
  std::lock_guard lock(mu);
  const A_long time = TimeOf(current_frame);
  std::vector<PF_ParamDef> defs{LayerDefinition(time)};
  for (A_long i = 1; i <= params.Count(); ++i) {
    defs.push_back(HandOut(params.DefinitionAt(i, time, options.time_scale, options.time_scale)));
  }
  return defs;
}

void HostState::DisposePreRenderData(FrameReport& report) {
  const PF_DeletePreRenderDataFunc fn = report.pre_render_output.delete_pre_render_data_func;
  void* data = report.pre_render_output.pre_render_data;
  if (!fn || !data) return;
  BeginCall(kDeleteFunctionName, -1, Phase::kNone);
  {
    CurrentHost current(this);
    CallInThreadState(kDeleteFunctionName, [&] {
      try {
        fn(data);
      } catch (...) {
        Violation("an exception left the pre-render data's delete function");
      }
    });
  }
  EndCall(PF_Err_NONE);
  report.delete_called = true;
}

void HostState::CheckRenderWorlds() {
  std::lock_guard lock(mu);
  // Without strict mode nothing would be recorded: skip the work too.
  if (!options.strict) return;
  const std::string where = CommandName(PF_Cmd_SMART_RENDER) + ": ";
  for (const auto& [id, input] : input_worlds) {
    const auto& now = input.world->raw_bytes();
    if (now.size() != input.before.size()) continue;  // no snapshot was taken
    const auto changed = std::inner_product(now.begin(), now.end(), input.before.begin(), std::size_t{0},
                                            std::plus<>(), std::not_equal_to<>());
    if (changed != 0) {
      ViolationLocked(where + "the effect changed " + std::to_string(changed) +
                      " bytes of the input world of checkout id " + std::to_string(id));
    }
  }
  if (output_world) {
    for (const auto& damage : output_world->GuardDamage()) {
      ViolationLocked(where + "the effect wrote outside the output world: " + damage);
    }
  }
}

void CheckKind(HostState& s) {
  if (s.pipl && s.pipl->kind != kEffectKind) {
    s.Violation("the PiPL kind is \"" + s.pipl->kind + "\", not an effect (\"" + kEffectKind + "\")");
  }
}

}  // namespace detail

using detail::HostState;
using detail::Phase;

// ---- Construction ---------------------------------------------------------------

std::unique_ptr<Host> Host::Load(const std::string& path, std::string* error, HostOptions options) {
  auto fail = [error](std::string message) {
    if (error) *error = std::move(message);
    return std::unique_ptr<Host>();
  };
  std::string why;
  auto library = detail::PluginLibrary::Open(path, &why);
  if (!library) return fail("cannot load " + path + ": " + why);
  auto bytes = library->ReadPipl(&why);
  if (!bytes) return fail(path + " has no PiPL: " + why);
  auto info = ParsePipl(*bytes, &why);
  if (!info) return fail(path + " has a malformed PiPL: " + why);
  if (info->entry_point.empty()) return fail(path + ": the PiPL names no entry point");
  const PF_EntryPointFunc entry = library->FindEntryPoint(info->entry_point);
  if (!entry) return fail(path + " does not export " + info->entry_point + ", the entry point its PiPL names");
  auto host = std::make_unique<Host>(entry, std::move(options));
  host->state_->library = std::move(library);
  host->state_->pipl = std::move(info);
  detail::CheckKind(*host->state_);
  return host;
}

Host::Host(PF_EntryPointFunc entry, HostOptions options)
    : state_(std::make_unique<HostState>(entry, std::move(options))) {}

Host::Host(PF_EntryPointFunc entry, std::span<const std::uint8_t> pipl, HostOptions options)
    : Host(entry, std::move(options)) {
  std::string why;
  state_->pipl = ParsePipl(pipl, &why);
  if (!state_->pipl) state_->Violation("the PiPL is malformed: " + why);
  detail::CheckKind(*state_);
}

Host::~Host() {
  if (state_->pending) {
    try {
      DropPending();
    } catch (...) {  // a destructor must not throw; the host's memory goes with it anyway
    }
  }
}

HostOptions& Host::options() { return state_->options; }
const HostOptions& Host::options() const { return state_->options; }
const std::optional<PiplInfo>& Host::pipl() const { return state_->pipl; }

// ---- Commands -------------------------------------------------------------------

std::string Host::About() {
  state_->Call(PF_Cmd_ABOUT, nullptr, nullptr, nullptr, Phase::kNone);
  const auto& msg = state_->out_data.return_msg;
  return std::string(msg, strnlen(msg, sizeof msg));
}

PF_Err Host::GlobalSetup() {
  HostState& s = *state_;
  const PF_Err err = s.Call(PF_Cmd_GLOBAL_SETUP, nullptr, nullptr, nullptr, Phase::kNone);
  std::lock_guard lock(s.mu);
  if (err == PF_Err_NONE && s.pipl) {
    // The real host warns when the code and its resource disagree.
    const auto compare = [&](const char* field, std::uint32_t code, const char* property, std::uint32_t pipl) {
      if (code != pipl) {
        s.ViolationLocked(std::string("GLOBAL_SETUP: ") + field + " " + detail::Hex(code) + " differ from the PiPL's " +
                          property + " " + detail::Hex(pipl));
      }
    };
    compare("out_flags", static_cast<std::uint32_t>(s.out_data.out_flags), "AE_Effect_Global_OutFlags",
            s.pipl->global_out_flags);
    compare("out_flags2", static_cast<std::uint32_t>(s.out_data.out_flags2), "AE_Effect_Global_OutFlags_2",
            s.pipl->global_out_flags2);
    compare("my_version", s.out_data.my_version, "AE_Effect_Version", s.pipl->effect_version);
  }
  if (s.global_data) {
    const auto it = s.handles.find(s.global_data);
    if (it == s.handles.end() || !it->second.live) {
      s.ViolationLocked("GLOBAL_SETUP: global_data is not a live handle of this host");
    }
  }
  return err;
}

PF_Err Host::ParamsSetup() {
  HostState& s = *state_;
  PF_ParamDef layer;
  {
    std::lock_guard lock(s.mu);
    s.params.ClearDefinitions();
    s.ui_updates.clear();
    layer = s.LayerDefinition(s.TimeOf(s.current_frame));
  }
  PF_ParamDef* params[] = {&layer, nullptr};
  const PF_Err err = s.Call(PF_Cmd_PARAMS_SETUP, params, nullptr, nullptr, Phase::kParamsSetup);
  if (err != PF_Err_NONE) return err;
  std::vector<std::string> mismatched;
  {
    std::lock_guard lock(s.mu);
    if (s.out_data.num_params != 1 + s.params.Count()) {
      s.ViolationLocked("PARAMS_SETUP: num_params is " + std::to_string(s.out_data.num_params) + ", but 1 + " +
                        std::to_string(s.params.Count()) + " parameters were added");
    }
    for (const auto& problem : s.params.FinishRegistration()) s.ViolationLocked("PARAMS_SETUP: " + problem);
    mismatched = s.params.MismatchedValues();
  }
  if (!mismatched.empty()) throw std::invalid_argument(mismatched.front());
  return err;
}

PF_Err Host::UpdateParamsUI() {
  HostState& s = *state_;
  std::vector<PF_ParamDef> defs = s.CurrentDefinitions();
  std::vector<PF_ParamDef*> params;
  for (auto& d : defs) params.push_back(&d);
  params.push_back(nullptr);
  return s.Call(PF_Cmd_UPDATE_PARAMS_UI, params.data(), nullptr, nullptr, Phase::kNone);
}

PF_Err Host::GlobalSetdown() {
  HostState& s = *state_;
  if (s.pending) DropPending();
  const PF_Err err = s.Call(PF_Cmd_GLOBAL_SETDOWN, nullptr, nullptr, nullptr, Phase::kNone);
  std::lock_guard lock(s.mu);
  for (const HandleInfo& h : s.LiveHandlesLocked()) {
    const std::string made_in =
        h.created_in_call >= 0 ? s.commands[static_cast<std::size_t>(h.created_in_call)].name : "no command";
    s.ViolationLocked("after GLOBAL_SETDOWN: handle h" + std::to_string(h.id) + " of " + std::to_string(h.size) +
                      " bytes, made during " + made_in + ", was never disposed");
  }
  return err;
}

PF_Err Host::SendCommand(PF_Cmd cmd) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      About();
      return LastError();
    case PF_Cmd_GLOBAL_SETUP:
      return GlobalSetup();
    case PF_Cmd_GLOBAL_SETDOWN:
      return GlobalSetdown();
    case PF_Cmd_PARAMS_SETUP:
      return ParamsSetup();
    case PF_Cmd_UPDATE_PARAMS_UI:
      return UpdateParamsUI();
    case PF_Cmd_SMART_PRE_RENDER:
    case PF_Cmd_SMART_RENDER:
      throw std::invalid_argument("smart-render commands are sent by the frame calls");
    default:
      break;
  }
  HostState& s = *state_;
  std::vector<PF_ParamDef> defs = s.CurrentDefinitions();
  std::vector<PF_ParamDef*> params;
  for (auto& d : defs) params.push_back(&d);
  params.push_back(nullptr);
  {
    std::lock_guard lock(s.mu);
    const World& layer = s.LayerAt(s.TimeOf(s.current_frame));
    s.raw_output = std::make_unique<World>(layer.width(), layer.height(), layer.format(), s.options.row_padding_bytes);
    s.raw_output->FillPixelBytes(s.options.output_fill);
    s.raw_output_record = s.WorldRecord(*s.raw_output);
  }
  const PF_Err err = s.Call(cmd, params.data(), &s.raw_output_record, nullptr, Phase::kNone);
  for (const auto& damage : s.raw_output->GuardDamage()) {
    s.Violation(detail::CommandName(cmd) + ": the effect wrote outside the output world: " + damage);
  }
  return err;
}

// ---- Frames ----------------------------------------------------------------------

PF_Err Host::PreRender(A_long frame) {
  HostState& s = *state_;
  if (s.pending) DropPending();
  s.current_frame = frame;
  detail::PendingFrame p;
  p.report.frame = frame;
  p.report.time = s.TimeOf(frame);
  {
    std::lock_guard lock(s.mu);
    const World& layer = s.LayerAt(p.report.time);
    p.format = layer.format();
    p.request.rect = s.options.request_rect.value_or(layer.bounds());
  }
  p.request.field = PF_Field_FRAME;
  p.request.channel_mask = PF_ChannelMask_ARGB;

  PF_PreRenderInput input;
  detail::FillRecord("PF_PreRenderInput", input, s.Fill());
  input.output_request = p.request;
  PF_PreRenderInput sent;
  std::memcpy(&sent, &input, sizeof input);
  PF_PreRenderOutput output;
  detail::FillRecord("PF_PreRenderOutput", output, s.Fill());
  output.result_rect = s.options.initial_output_rect;
  output.max_result_rect = s.options.initial_output_rect;
  output.pre_render_data = nullptr;
  output.delete_pre_render_data_func = nullptr;
  PF_PreRenderExtra extra{&input, &output, &s.pre_render_callbacks};
  {
    std::lock_guard lock(s.mu);
    s.pending = std::move(p);
  }
  const PF_Err err = s.Call(PF_Cmd_SMART_PRE_RENDER, nullptr, nullptr, &extra, Phase::kPreRender);
  if (std::memcmp(&sent, &input, sizeof input) != 0) {
    s.Violation("SMART_PRE_RENDER: the effect wrote into the host's pre-render input");
  }
  std::lock_guard lock(s.mu);
  s.pending->report.pre_render_err = err;
  s.pending->report.pre_render_output = output;
  return err;
}

FrameReport Host::RenderPending() {
  HostState& s = *state_;
  if (!s.pending) throw std::logic_error("no frame is pending");
  // Data from a failed pre-render is never handed to render.
  if (s.pending->report.pre_render_err != PF_Err_NONE) return DropPending();
  s.current_frame = s.pending->report.frame;
  PF_SmartRenderInput input;
  detail::FillRecord("PF_SmartRenderInput", input, s.Fill());
  input.pre_render_data = s.pending->report.pre_render_output.pre_render_data;
  PF_SmartRenderExtra extra{&input, &s.smart_render_callbacks};
  const PF_Err err = s.Call(PF_Cmd_SMART_RENDER, nullptr, nullptr, &extra, Phase::kRender);
  s.CheckRenderWorlds();
  FrameReport report;
  {
    std::lock_guard lock(s.mu);
    report = std::move(s.pending->report);
    s.pending.reset();
    report.rendered = true;
    report.render_err = err;
    if (s.options.reuse_worlds) {
      if (s.output_world) s.kept_output = std::move(s.output_world);
      for (auto& [id, input] : s.input_worlds) s.kept_inputs.insert_or_assign(id, std::move(input));
    } else if (s.output_world) {
      report.output = std::move(*s.output_world);
    }
    s.output_world.reset();
    s.input_worlds.clear();
  }
  s.DisposePreRenderData(report);
  return report;
}

FrameReport Host::DropPending() {
  HostState& s = *state_;
  if (!s.pending) throw std::logic_error("no frame is pending");
  FrameReport report;
  {
    std::lock_guard lock(s.mu);
    report = std::move(s.pending->report);
    s.pending.reset();
  }
  s.DisposePreRenderData(report);
  return report;
}

const FrameReport* Host::Pending() const { return state_->pending ? &state_->pending->report : nullptr; }

FrameReport Host::RenderFrame(A_long frame) {
  PreRender(frame);
  return RenderPending();
}

FrameReport Host::PreRenderOnly(A_long frame) {
  PreRender(frame);
  return DropPending();
}

PF_Err Host::Run(A_long first_frame, A_long frame_count, const std::function<void(const FrameReport&)>& on_frame) {
  PF_Err err = GlobalSetup();
  if (err != PF_Err_NONE) return err;
  err = ParamsSetup();
  if (err == PF_Err_NONE) {
    err = UpdateParamsUI();
    for (A_long f = first_frame; f < first_frame + frame_count; ++f) {
      const FrameReport report = RenderFrame(f);
      if (err == PF_Err_NONE) err = report.err();
      if (on_frame) on_frame(report);
    }
  }
  const PF_Err setdown = GlobalSetdown();
  return err != PF_Err_NONE ? err : setdown;
}

PF_Err Host::LastError() const { return state_->last_error; }
const PF_OutData& Host::LastOutData() const { return state_->out_data; }
PF_Handle Host::GlobalData() const { return state_->global_data; }

std::optional<std::vector<unsigned char>> Host::HandleBytes(const void* handle) const {
  std::lock_guard lock(state_->mu);
  const auto it = state_->handles.find(static_cast<PF_Handle>(const_cast<void*>(handle)));
  if (it == state_->handles.end() || !it->second.live) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(it->second.data.get());
  return std::vector<unsigned char>(bytes, bytes + it->second.size);
}
const World* Host::RawOutput() const { return state_->raw_output.get(); }
const World* Host::KeptOutput() const { return state_->kept_output.get(); }

A_long Host::TimeOf(A_long frame) const { return state_->TimeOf(frame); }
void Host::SetCurrentFrame(A_long frame) { state_->current_frame = frame; }

// ---- Input -------------------------------------------------------------------------

void Host::SetInput(World image) {
  std::lock_guard lock(state_->mu);
  state_->input_all = std::move(image);
  ++state_->input_generation;
}

void Host::SetInputAt(A_long time, World image) {
  std::lock_guard lock(state_->mu);
  state_->input_at.insert_or_assign(time, std::move(image));
  ++state_->input_generation;
}

void Host::ClearInput() {
  std::lock_guard lock(state_->mu);
  state_->input_all.reset();
  state_->input_at.clear();
  ++state_->input_generation;
}

// ---- Parameters ------------------------------------------------------------------

A_long Host::NumParams() const {
  std::lock_guard lock(state_->mu);
  return 1 + state_->params.Count();
}

const PF_ParamDef& Host::Param(PF_ParamIndex index) const {
  std::lock_guard lock(state_->mu);
  return state_->params.Registered(index);
}

PF_ParamIndex Host::ParamIndex(const std::string& name) const {
  std::lock_guard lock(state_->mu);
  const auto index = state_->params.Find(name);
  if (!index) throw std::invalid_argument("no parameter named \"" + name + "\"");
  return *index;
}

void Host::SetParam(PF_ParamIndex index, ParamValue value) {
  std::lock_guard lock(state_->mu);
  state_->params.Set(index, std::move(value));
}

void Host::SetParam(const std::string& name, ParamValue value) { SetParam(ParamIndex(name), std::move(value)); }

void Host::SetParamKey(PF_ParamIndex index, A_long time, ParamValue value) {
  std::lock_guard lock(state_->mu);
  state_->params.SetKey(index, time, std::move(value));
}

void Host::SetParamKey(const std::string& name, A_long time, ParamValue value) {
  SetParamKey(ParamIndex(name), time, std::move(value));
}

ParamValue Host::ParamValueAt(PF_ParamIndex index, A_long time) const {
  std::lock_guard lock(state_->mu);
  return state_->params.ValueAt(index, time, state_->options.time_scale, state_->options.time_scale);
}

std::vector<PF_ParamDef> Host::UiUpdates(PF_ParamIndex index) const {
  std::lock_guard lock(state_->mu);
  const auto it = state_->ui_updates.find(index);
  return it == state_->ui_updates.end() ? std::vector<PF_ParamDef>{} : it->second;
}

// ---- Instrumentation and faults ----------------------------------------------------

std::vector<CallRecord> Host::Calls() const {
  std::lock_guard lock(state_->mu);
  return state_->calls;
}

std::size_t Host::CountOf(const std::string& op) const {
  std::lock_guard lock(state_->mu);
  return static_cast<std::size_t>(std::count_if(state_->calls.begin(), state_->calls.end(),
                                                [&](const CallRecord& c) { return c.op == op; }));
}

std::size_t Host::CountOf(const std::string& op, const std::string& detail) const {
  std::lock_guard lock(state_->mu);
  return static_cast<std::size_t>(std::count_if(state_->calls.begin(), state_->calls.end(), [&](const CallRecord& c) {
    return c.op == op && c.detail == detail;
  }));
}

void Host::ClearCalls() {
  std::lock_guard lock(state_->mu);
  state_->calls.clear();
}

std::vector<CommandRecord> Host::Commands() const {
  std::lock_guard lock(state_->mu);
  return state_->commands;
}

std::vector<HandleInfo> Host::LiveHandles() const {
  std::lock_guard lock(state_->mu);
  return state_->LiveHandlesLocked();
}

std::vector<std::string> Host::Violations() const {
  std::lock_guard lock(state_->mu);
  return state_->violations;
}

void Host::ClearViolations() {
  std::lock_guard lock(state_->mu);
  state_->violations.clear();
}

void Host::InjectFault(Fault fault) {
  std::lock_guard lock(state_->mu);
  state_->faults.push_back(detail::ArmedFault{std::move(fault), 0, -1});
}

void Host::RefuseSuite(const std::string& name, std::optional<A_long> version) {
  InjectFault(Fault{"AcquireSuite", name, version, 0, FaultScope::kAlways, kSPSuiteNotFoundError, false});
}

void Host::ClearFaults() {
  std::lock_guard lock(state_->mu);
  state_->faults.clear();
}

void Host::SetPixelFormatAnswer(std::optional<PF_PixelFormat> format) {
  std::lock_guard lock(state_->mu);
  state_->format_answer = format;
}

}  // namespace simhost
