// Internal state of one simulated host, shared by the public Host methods
// (host.cpp) and the C callbacks the plug-in calls (host_calls.cpp).
#ifndef SIMHOST_SRC_HOST_STATE_H
#define SIMHOST_SRC_HOST_STATE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host_api/ae_all.h"
#include "host_records.h"
#include "param_store.h"
#include "plugin_library.h"
#include "worker_pool.h"
#include "simhost/host.h"

namespace simhost::detail {

// Which callbacks the command being run may use.
enum class Phase { kNone, kParamsSetup, kPreRender, kRender };

// Makes `state` the floating-point state this thread was given for a call
// into the effect, for the object's lifetime (the previous one again after).
class GivenFloatControl {
 public:
  explicit GivenFloatControl(const FloatControl& state);
  ~GivenFloatControl();
  GivenFloatControl(const GivenFloatControl&) = delete;
  GivenFloatControl& operator=(const GivenFloatControl&) = delete;

 private:
  FloatControl state_;
  const FloatControl* previous_;
};

struct HandleRecord {
  int id = 0;
  A_HandleSize size = 0;
  int lock_count = 0;
  bool live = true;  // false once disposed; the record stays so a second dispose is recognised
  int created_in_call = -1;
  std::unique_ptr<std::byte[]> data;
};

struct InputCheckout {
  std::unique_ptr<World> world;
  std::vector<unsigned char> before;  // every byte as handed out (strict mode only)
  PF_EffectWorld record{};            // the record handed out (altered when options.alter_world is set)
  // What the crop was made from, so that a kept crop (options.reuse_worlds)
  // is used again only for the same layer and rectangle.
  const World* layer = nullptr;
  std::uint64_t input_generation = 0;
  PF_LRect rect{};
};

struct PendingFrame {
  FrameReport report;
  PF_RenderRequest request{};  // the host's output request, as sent
  PF_PixelFormat format = PF_PixelFormat_ARGB32;
};

struct ArmedFault {
  Fault fault;
  int seen = 0;         // matching calls counted so far
  int bound_call = -1;  // kNextCall: the plug-in call it belongs to, once one has matched
};

struct HostState {
  HostState(PF_EntryPointFunc entry_point, HostOptions host_options);
  ~HostState();
  HostState(const HostState&) = delete;
  HostState& operator=(const HostState&) = delete;

  // ---- Fixed for the host's life. The library is declared first so that it
  // is unloaded after everything else.
  std::unique_ptr<PluginLibrary> library;
  PF_EntryPointFunc entry;
  HostOptions options;
  std::optional<PiplInfo> pipl;
  int effect_token = 0;  // in_data->effect_ref points here

  // Callback tables handed to the plug-in by address; refreshed before every
  // call since the plug-in could write to them.
  PF_UtilCallbacks utils{};
  PF_PreRenderCallbacks pre_render_callbacks{};
  PF_SmartRenderCallbacks smart_render_callbacks{};

  // ---- Guarded by mu: the callbacks may come from worker threads.
  mutable std::mutex mu;
  std::vector<CallRecord> calls;
  std::vector<std::string> violations;
  std::vector<CommandRecord> commands;
  int current_call = -1;
  Phase phase = Phase::kNone;
  std::vector<ArmedFault> faults;
  std::optional<PF_PixelFormat> format_answer;

  std::deque<void*> master_pointers;  // PF_Handle points into this; entries never move
  std::map<PF_Handle, HandleRecord> handles;
  // The live ones by id: every call ends by listing them, and the disposed
  // records, which stay in `handles`, grow with every frame rendered.
  std::map<int, PF_Handle> live_handles;
  int next_handle_id = 1;

  ParamStore params;
  std::map<PF_ParamIndex, std::vector<PF_ParamDef>> ui_updates;
  struct ParamCheckout {
    const PF_ParamDef* def;
    PF_ParamIndex index;
  };
  std::vector<ParamCheckout> param_checkouts;  // outstanding in the current call

  PF_Handle global_data = nullptr;
  PF_OutData out_data{};
  PF_Err last_error = PF_Err_NONE;
  A_long current_frame = 0;

  std::optional<World> input_all;
  std::map<A_long, World> input_at;
  mutable std::optional<World> blank_layer;
  std::uint64_t input_generation = 0;  // counts changes of the input images

  std::optional<PendingFrame> pending;
  std::map<A_long, InputCheckout> input_worlds;  // by checkout id, during a render
  std::unique_ptr<World> output_world;           // during a render
  PF_EffectWorld output_record{};                // the output world's record as handed out
  std::map<A_long, InputCheckout> kept_inputs;   // between renders, with options.reuse_worlds
  std::unique_ptr<World> kept_output;            // likewise
  std::unique_ptr<World> raw_output;             // of the last raw command
  PF_EffectWorld raw_output_record{};            // its record as handed out

  // iterate_generic's threads, kept from call to call; made before any
  // iteration needs them and stopped first when the host goes.
  WorkerPool workers;

  // ---- Helpers; "Locked" ones expect mu to be held.
  // What the host writes where the effect must not read (see host_records.h).
  unsigned char Fill() const { return UnusedFill(options.patterned_records); }
  // The record of a world as the host hands it out: the world's pixels and
  // size, everything else the host's own.
  PF_EffectWorld WorldRecord(const World& world) const;
  // A parameter definition as the host hands it out: the bytes of the value
  // union that the definition's kind does not use are the host's own.
  PF_ParamDef HandOut(PF_ParamDef def) const;
  PF_ProgPtr EffectRef() const;
  A_long TimeOf(A_long frame) const;
  A_long ToHostTime(A_long what_time, A_u_long time_scale) const;
  const World& LayerAt(A_long time) const;
  std::string CallNameLocked() const;
  void ViolationLocked(const std::string& message);
  void Violation(const std::string& message);
  // Runs `call`, a call into the effect named `what`, with this thread in the
  // floating-point state the options give the host's threads, and records a
  // violation when the effect gives the thread back in another control state
  // than it was called in. The exception flags are not compared: the host's
  // own callbacks raise them too while the effect runs. The thread then gets
  // its own state back.
  // Meanwhile the thread's callbacks are expected in the state it was called in.
  template <class Call>
  void CallInThreadState(const char* what, Call&& call) {
    const ScopedFloatControl state(options.thread_float_control ? &*options.thread_float_control : nullptr);
    const FloatControl called_in = CurrentFloatControl();
    {
      const GivenFloatControl given(called_in);
      call();
    }
    const FloatControl given_back = CurrentFloatControl();
    if (ControlsOf(given_back) != ControlsOf(called_in)) {
      Violation(std::string(what) + " gave its thread back in another floating-point state (" + Describe(given_back) +
                ") than it was called in (" + Describe(called_in) + ")");
    }
  }
  // Logs a host call and returns the injected fault that fires on it, if any.
  // A call made in a floating-point state other than the one its thread was
  // given is a violation.
  std::optional<Fault> EnterLocked(const char* op, std::string detail, long long arg);
  SuiteBalance* BalanceLocked(const std::string& name, A_long version);
  const World* FindWorldLocked(const PF_EffectWorld* world) const;
  std::vector<HandleInfo> LiveHandlesLocked() const;

  // ---- Calling the plug-in (host thread only).
  void ResetCallbackTables();
  PF_InData MakeInData();
  PF_Err Call(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output, void* extra, Phase call_phase);
  void BeginCall(std::string name, PF_Cmd cmd, Phase call_phase);
  void EndCall(PF_Err err);
  // Current definitions for a parameter array; [0] is the input layer.
  std::vector<PF_ParamDef> CurrentDefinitions();
  PF_ParamDef LayerDefinition(A_long time) const;
  void DisposePreRenderData(FrameReport& report);
  void CheckRenderWorlds();
};

// Makes `host` the one that plug-in calls on this thread reach, for the
// object's lifetime.
class CurrentHost {
 public:
  explicit CurrentHost(HostState* host);
  ~CurrentHost();
  CurrentHost(const CurrentHost&) = delete;
  CurrentHost& operator=(const CurrentHost&) = delete;

 private:
  HostState* previous_;
};

// The state of the innermost GivenFloatControl on this thread, or null.
const FloatControl* GivenFloatControlOfThread();

void RegisterHost(HostState* host);
void UnregisterHost(HostState* host);

// The host's callback tables, as freshly made.
// The basic suite, one for the whole process as a real host has it: a
// plug-in may keep its address beyond the host that handed it out (a delete
// callback has nothing else to reach the handle suite by). Its functions find
// their host through the thread or the effect reference.
SPBasicSuite* ProcessBasicSuite();
// The callback tables, with `fill` in their reserved members.
PF_InteractCallbacks InteractCallbacksTable(unsigned char fill);
PF_UtilCallbacks UtilCallbacksTable(unsigned char fill);
PF_PreRenderCallbacks PreRenderCallbacksTable(unsigned char fill);
PF_SmartRenderCallbacks SmartRenderCallbacksTable(unsigned char fill);

}  // namespace simhost::detail

#endif
