// The simulated compositing host. It loads an effect plug-in (or takes an
// entry point linked into the program), reads its registration resource, and
// drives it only through its entry point, with the records, callbacks and
// suites that the real host provides, while recording how the plug-in uses
// them. See simhost/README.md for a walk-through.
//
// Time: the host's clock counts in units of 1/time_scale second; frame f is at
// time f * time_step. The defaults (time_step 1, time_scale 24) give 24 frames
// per second with time == frame number. Keyframe times are in the same units.
//
// Threads: every Host method must be called from one thread at a time (the
// "host thread"). The plug-in's calls are routed to their host through a
// thread-local pointer that the host sets on the thread it calls the plug-in
// from and on the worker threads of iterate_generic; callbacks that carry an
// effect_ref are routed by it. A call from any other thread reaches the host
// only while exactly one Host exists in the process. Several hosts may exist
// one after another or side by side, each driven from its own thread.
#ifndef SIMHOST_HOST_H
#define SIMHOST_HOST_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host_api/ae_all.h"
#include "simhost/float_control.h"
#include "simhost/instrumentation.h"
#include "simhost/param_value.h"
#include "simhost/pipl.h"
#include "simhost/world.h"

namespace simhost {

namespace detail {
struct HostState;
}

// The byte the host writes into every member of its records that the effect
// must not read (HostOptions::patterned_records). Not zero: a zero read where
// a pointer or a count was meant looks like a plausible "none".
constexpr unsigned char kUnusedBytePattern = 0x5A;

struct HostOptions {
  // Collect violations (misuse of the host found by its checks). Without it
  // the host behaves the same but records none.
  bool strict = true;

  A_long time_step = 1;     // frame f is at time f * time_step
  A_u_long time_scale = 24; // time units per second

  // The answer of AEGP_GetNumThreads (0 allowed). iterate_generic runs its
  // iterations on min(max(num_threads, 1), iterations) worker threads with
  // thread indices below that count.
  A_long num_threads = 4;

  // The layer used when the test gives no input image: this size and format,
  // all pixel bytes 0.
  A_long layer_width = 64;
  A_long layer_height = 48;
  PF_PixelFormat pixel_format = PF_PixelFormat_ARGB32;

  // Padding added to every row of the worlds the host hands out; a multiple
  // of 16 suits every pixel size.
  A_long row_padding_bytes = 64;

  // The area the host asks of the effect in pre-render; the whole layer when empty.
  std::optional<PF_LRect> request_rect;
  // The output rectangles handed to pre-render (empty, as the host usually sends them).
  PF_LRect initial_output_rect{0, 0, 0, 0};

  // The byte every pixel byte of a new output world holds.
  unsigned char output_fill = 0;

  // The pixel format of the output world that checkout_output hands out; the
  // input layer's format when empty, as a host does.
  std::optional<PF_PixelFormat> output_format;

  // Written by AEGP_RegisterWithAEGP.
  AEGP_PluginID plugin_id = 0x51564401;

  // host_new_handle gives null for larger requests.
  A_HandleSize max_handle_size = A_HandleSize{1} << 31;

  // Off: in_data->pica_basicP is null, as from a host that offers no suites.
  bool provide_basic_suite = true;

  // What the host writes into the members of its records that the effect
  // must not read (PF_InData's num_params, a world's extent_hint, the GPU
  // members of the smart-render inputs, the bytes of a parameter's value
  // union past its kind, ...): a recognisable non-zero pattern, or zeros when
  // off. Function slots the effect must not call are traps either way.
  bool patterned_records = true;

  // Called on the world record (not the pixels) that checkout_layer_pixels
  // (is_output false) or checkout_output (true) is about to hand out, to play
  // a host whose worlds are odd: rowbytes that do not fit the pixels, null
  // data, a negative size. The host's own world stays as it was.
  std::function<void(PF_EffectWorld& world, bool is_output)> alter_world;

  // Keeps the render worlds from one frame to the next, so that a benchmark
  // measures the effect rather than the host: an input crop is copied again
  // only when the layer or the granted rectangle changed, and an output world
  // of the same size and format is handed out again without being filled.
  // FrameReport::output then stays empty. Without strict mode the host also
  // skips its checks of the worlds (input snapshot, guard bytes).
  bool reuse_worlds = false;

  // The floating-point control state the host's threads are in when they call
  // the effect: the thread that calls EntryPointFunc, for each call, and the
  // worker threads, for each iteration of iterate_generic. Empty: the threads'
  // own (the ordinary state). Either way the strict host checks that every call
  // gives its thread back in the state it was called in.
  std::optional<FloatControl> thread_float_control;
};

// A layer checkout made in pre-render, as requested and as granted.
struct LayerCheckout {
  A_long checkout_id = 0;
  PF_ParamIndex index = 0;
  PF_RenderRequest request{};
  A_long what_time = 0;
  A_long time_step = 0;
  A_u_long time_scale = 0;
  PF_CheckoutResult result{};
};

// One frame's trip through pre-render and (perhaps) render.
struct FrameReport {
  A_long frame = 0;
  A_long time = 0;
  PF_Err pre_render_err = PF_Err_NONE;
  PF_PreRenderOutput pre_render_output{};   // as the effect left it
  std::vector<LayerCheckout> layer_checkouts;
  bool rendered = false;                    // SMART_RENDER was sent
  PF_Err render_err = PF_Err_NONE;
  bool delete_called = false;               // the effect's delete function ran for its data
  std::optional<World> output;              // the output world, when the effect checked it out

  // The frame's result: the pre-render's error, else the render's.
  PF_Err err() const { return pre_render_err != PF_Err_NONE ? pre_render_err : render_err; }
};

class Host {
 public:
  // Loads the plug-in library at `path`, reads and parses its PiPL and finds
  // the entry point it names. On failure returns null and says why in `error`.
  // A PiPL kind other than an effect is a violation.
  static std::unique_ptr<Host> Load(const std::string& path, std::string* error,
                                    HostOptions options = {});

  // Drives an entry point linked into this program. With `pipl` bytes the host
  // checks them as it checks a loaded plug-in's resource (a malformed resource
  // is a violation); without, it skips the resource checks.
  explicit Host(PF_EntryPointFunc entry, HostOptions options = {});
  Host(PF_EntryPointFunc entry, std::span<const std::uint8_t> pipl, HostOptions options = {});

  // Drops a pre-rendered frame (calling the effect's delete function) and
  // unloads the library. It does not send GLOBAL_SETDOWN.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Options may be changed between commands.
  HostOptions& options();
  const HostOptions& options() const;
  const std::optional<PiplInfo>& pipl() const;

  // --- Commands. Each returns the plug-in's result; LastOutData() then holds
  // the PF_OutData it filled (handed in with zeros in what the effect writes,
  // global_data, and the host's fill elsewhere).
  std::string About();  // ABOUT: the text in return_msg
  PF_Err GlobalSetup();  // then checks out_flags/out_flags2/my_version against the PiPL
  PF_Err ParamsSetup();  // then checks num_params; throws std::invalid_argument when a value
                         // set beforehand does not fit the parameter's kind
  PF_Err UpdateParamsUI();
  PF_Err GlobalSetdown();  // drops a pending frame first; afterwards every live handle is a leak
  // Any command. ABOUT, GLOBAL_SETUP, GLOBAL_SETDOWN, PARAMS_SETUP and
  // UPDATE_PARAMS_UI go to the methods above. Others are sent with the
  // parameter array, a layer-sized output world (RawOutput()) and a null
  // extra; the smart-render commands need their records and are refused
  // (std::invalid_argument): use the frame calls.
  PF_Err SendCommand(PF_Cmd cmd);

  // --- Frames. The host keeps at most one pre-rendered frame pending.
  FrameReport RenderFrame(A_long frame);    // pre-render, render, delete function
  FrameReport PreRenderOnly(A_long frame);  // pre-render, then the frame is dropped
  PF_Err PreRender(A_long frame);           // pre-render; the frame stays pending
  FrameReport RenderPending();              // renders the pending frame (only if its pre-render
                                            // returned 0), then disposes of its data
  FrameReport DropPending();                // disposes of the pending frame's data unrendered
  const FrameReport* Pending() const;       // null when no frame is pending

  // A whole run: global setup, params setup, UI update, frames
  // first..first+count-1, global setdown. Stops at a failing global setup or
  // params setup (setdown is still sent after the latter). Returns the first
  // non-zero error.
  PF_Err Run(A_long first_frame, A_long frame_count,
             const std::function<void(const FrameReport&)>& on_frame = {});

  PF_Err LastError() const;
  const PF_OutData& LastOutData() const;
  PF_Handle GlobalData() const;
  // The bytes of a live handle made by the plug-in (pre-render data, global
  // data), whether or not it is locked; nothing for any other pointer.
  std::optional<std::vector<unsigned char>> HandleBytes(const void* handle) const;
  const World* RawOutput() const;  // the output world of the last SendCommand, if any
  const World* KeptOutput() const;  // with reuse_worlds: the last render's output world, if any

  A_long TimeOf(A_long frame) const;
  void SetCurrentFrame(A_long frame);  // the time of commands other than frames (default 0)

  // --- Input layer. The image for a time is the one set for exactly that time,
  // else the one set for all times, else a blank layer (see HostOptions).
  void SetInput(World image);
  void SetInputAt(A_long time, World image);
  void ClearInput();

  // --- Parameters (after PARAMS_SETUP; index 0 is the input layer).
  A_long NumParams() const;  // 1 + the number registered
  const PF_ParamDef& Param(PF_ParamIndex index) const;  // as registered
  PF_ParamIndex ParamIndex(const std::string& name) const;
  // A constant value (replacing any keys), or a keyframe at `time`. Values
  // between keys are interpolated: popups hold, colours per channel rounded,
  // float and fixed sliders linearly; before the first and after the last
  // key the nearest key holds. A parameter with no value has its default.
  // By index the value may be set before PARAMS_SETUP; by name only after.
  void SetParam(PF_ParamIndex index, ParamValue value);
  void SetParam(const std::string& name, ParamValue value);
  void SetParamKey(PF_ParamIndex index, A_long time, ParamValue value);
  void SetParamKey(const std::string& name, A_long time, ParamValue value);
  ParamValue ParamValueAt(PF_ParamIndex index, A_long time) const;
  // Every definition passed to PF_UpdateParamUI for `index`, in order.
  std::vector<PF_ParamDef> UiUpdates(PF_ParamIndex index) const;

  // --- Instrumentation.
  std::vector<CallRecord> Calls() const;
  std::size_t CountOf(const std::string& op) const;
  std::size_t CountOf(const std::string& op, const std::string& detail) const;
  void ClearCalls();
  std::vector<CommandRecord> Commands() const;
  std::vector<HandleInfo> LiveHandles() const;
  std::vector<std::string> Violations() const;
  void ClearViolations();

  // --- Fault injection.
  void InjectFault(Fault fault);
  // Every AcquireSuite of `name` (at `version`, or at any) fails with kSPSuiteNotFoundError.
  void RefuseSuite(const std::string& name, std::optional<A_long> version = std::nullopt);
  void ClearFaults();
  // PF_GetPixelFormat answers `format` for every world the host made (nullopt:
  // the world's own format).
  void SetPixelFormatAnswer(std::optional<PF_PixelFormat> format);

 private:
  std::unique_ptr<detail::HostState> state_;
};

}  // namespace simhost

#endif
