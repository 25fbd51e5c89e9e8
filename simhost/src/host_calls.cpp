// The host's side of every call the plug-in makes: the basic suite and the
// suites it hands out, the PF_InData callbacks and the smart-render callbacks.
// These are plain C function pointers without a context argument, so each
// finds its host first (see Resolve).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

#include "host_state.h"

namespace simhost::detail {
namespace {

// ---- Finding the host ------------------------------------------------------

thread_local HostState* t_current = nullptr;
// The state the host gave this thread for the call into the effect it is in;
// null outside one.
thread_local const FloatControl* t_given_float_control = nullptr;

std::mutex& RegistryMutex() {
  static std::mutex mu;
  return mu;
}
std::vector<HostState*>& Registry() {
  static std::vector<HostState*> hosts;
  return hosts;
}

// The host a call without effect_ref belongs to: the one driving this thread,
// else the only host in the process.
HostState* Resolve(const char* op) {
  if (t_current) return t_current;
  std::lock_guard lock(RegistryMutex());
  if (Registry().size() == 1) return Registry().front();
  std::fprintf(stderr, "simhost: %s called where no single host is active\n", op);
  return nullptr;
}

// A call with effect_ref goes to the host that handed that reference out.
HostState* Resolve(PF_ProgPtr effect_ref, const char* op) {
  {
    std::lock_guard lock(RegistryMutex());
    for (HostState* h : Registry()) {
      if (h->EffectRef() == effect_ref) return h;
    }
  }
  return Resolve(op);
}

bool CheckRef(HostState* h, PF_ProgPtr effect_ref, const char* op) {
  if (effect_ref == h->EffectRef()) return true;
  h->ViolationLocked(std::string(op) + " with an effect_ref this host did not hand out");
  return false;
}

// ---- Suites ------------------------------------------------------------------


// "h<id>", built by appending: GCC 12 warns falsely (-Wrestrict) on
// "literal" + std::string when optimising.
std::string HandleName(int id) {
  std::string name = "h";
  name += std::to_string(id);
  return name;
}

PF_Handle NewHandle(A_HandleSize size);
void* LockHandle(PF_Handle handle);
void UnlockHandle(PF_Handle handle);
void DisposeHandle(PF_Handle handle);
A_Err RegisterWithAEGP(AEGP_GlobalRefcon refcon, const A_char* name, AEGP_PluginID* id);
PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def);
A_Err GetNumThreads(A_long* count);
PF_Err IterateGeneric(A_long iterations, void* refcon, PF_IterateGenericFunc fn);
PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format);

// A suite table as the host hands it out: the published record of its
// version, the operations the effect uses filled in, every other slot a trap.
template <class Suite, class Set>
Suite MakeSuite(std::string_view title, Set set_used) {
  Suite suite;
  FillRecord(title, suite, kUnusedBytePattern);
  set_used(suite);
  return suite;
}

struct SuiteEntry {
  const char* name;
  A_long version;
  const void* table;
};

// Exactly the suites the effect interface declares, each at its one version.
const std::vector<SuiteEntry>& Suites() {
  static const PF_HandleSuite1 handle = MakeSuite<PF_HandleSuite1>("PF_HandleSuite1", [](auto& s) {
    s.host_new_handle = NewHandle;
    s.host_lock_handle = LockHandle;
    s.host_unlock_handle = UnlockHandle;
    s.host_dispose_handle = DisposeHandle;
  });
  static const AEGP_UtilitySuite3 utility = MakeSuite<AEGP_UtilitySuite3>(
      "AEGP_UtilitySuite3", [](auto& s) { s.AEGP_RegisterWithAEGP = RegisterWithAEGP; });
  static const PF_ParamUtilsSuite1 param_utils = MakeSuite<PF_ParamUtilsSuite1>(
      "PF_ParamUtilsSuite1", [](auto& s) { s.PF_UpdateParamUI = UpdateParamUI; });
  static const AEGP_IterateSuite1 iterate =
      MakeSuite<AEGP_IterateSuite1>("AEGP_IterateSuite1", [](auto& s) { s.AEGP_GetNumThreads = GetNumThreads; });
  static const PF_Iterate8Suite1 iterate8 =
      MakeSuite<PF_Iterate8Suite1>("PF_Iterate8Suite1", [](auto& s) { s.iterate_generic = IterateGeneric; });
  static const PF_WorldSuite2 world =
      MakeSuite<PF_WorldSuite2>("PF_WorldSuite2", [](auto& s) { s.PF_GetPixelFormat = GetPixelFormat; });
  static const std::vector<SuiteEntry> suites = {
      {kPFHandleSuite, kPFHandleSuiteVersion1, &handle},
      {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3, &utility},
      {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1, &param_utils},
      {kAEGPIterateSuite, kAEGPIterateSuiteVersion1, &iterate},
      {kPFIterate8Suite, kPFIterate8SuiteVersion1, &iterate8},
      {kPFWorldSuite, kPFWorldSuiteVersion2, &world},
  };
  return suites;
}

const void* FindSuite(const std::string& name, A_long version) {
  for (const auto& s : Suites()) {
    if (name == s.name && version == s.version) return s.table;
  }
  return nullptr;
}

std::string SuiteLabel(const std::string& name, A_long version) {
  return "\"" + name + "\" version " + std::to_string(version);
}

SPErr AcquireSuite(const char* name, A_long version, const void** suite) {
  if (suite) *suite = nullptr;
  HostState* h = Resolve("AcquireSuite");
  if (!h) return kSPSuiteNotFoundError;
  std::lock_guard lock(h->mu);
  const std::string n = name ? name : "";
  const auto fault = h->EnterLocked("AcquireSuite", n, version);
  if (!name || !suite) {
    h->ViolationLocked("AcquireSuite with a null name or a null place for the suite");
    return kSPSuiteNotFoundError;
  }
  if (fault) return fault->null_result ? kSPNoError : fault->error;
  const void* table = FindSuite(n, version);
  if (!table) {
    h->ViolationLocked("AcquireSuite of " + SuiteLabel(n, version) + ", which this host does not provide");
    return kSPSuiteNotFoundError;
  }
  if (SuiteBalance* b = h->BalanceLocked(n, version)) ++b->acquired;
  *suite = table;
  return kSPNoError;
}

SPErr ReleaseSuite(const char* name, A_long version) {
  HostState* h = Resolve("ReleaseSuite");
  if (!h) return kSPSuiteNotFoundError;
  std::lock_guard lock(h->mu);
  const std::string n = name ? name : "";
  const auto fault = h->EnterLocked("ReleaseSuite", n, version);
  if (!FindSuite(n, version)) {
    h->ViolationLocked("ReleaseSuite of " + SuiteLabel(n, version) + ", which this host does not provide");
    return kSPSuiteNotFoundError;
  }
  if (SuiteBalance* b = h->BalanceLocked(n, version)) {
    if (b->acquired <= b->released) {
      h->ViolationLocked("ReleaseSuite of " + SuiteLabel(n, version) + ", which is not held");
      return kSPSuiteNotFoundError;
    }
    ++b->released;  // the plug-in has let go of it, even when the host then reports a failure
  }
  return fault ? fault->error : kSPNoError;
}

// ---- Handle suite ----------------------------------------------------------

// New handle memory is not cleared (the real host's is not either): this
// pattern makes reliance on zeroed memory visible.
constexpr std::byte kFreshHandleByte{0xCD};

PF_Handle NewHandle(A_HandleSize size) {
  HostState* h = Resolve("host_new_handle");
  if (!h) return nullptr;
  std::lock_guard lock(h->mu);
  if (h->EnterLocked("host_new_handle", "", static_cast<long long>(size))) return nullptr;
  if (size > h->options.max_handle_size) return nullptr;
  std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[size == 0 ? 1 : size]);
  if (!data) return nullptr;
  std::fill_n(data.get(), size, kFreshHandleByte);
  h->master_pointers.push_back(data.get());
  auto handle = reinterpret_cast<PF_Handle>(&h->master_pointers.back());
  const int id = h->next_handle_id++;
  h->handles.emplace(handle, HandleRecord{id, size, 0, true, h->current_call, std::move(data)});
  h->live_handles.emplace(id, handle);
  h->calls.back().detail = HandleName(id);
  return handle;
}

// Logs a call on a handle and checks that the handle is one of this host's
// live handles; only then may it be touched.
struct HandleUse {
  HandleRecord* record = nullptr;  // null when the handle may not be used
  std::optional<Fault> fault;
};

HandleUse UseHandle(HostState* h, PF_Handle handle, const char* op) {
  const auto found = h->handles.find(handle);
  HandleRecord* r = found == h->handles.end() ? nullptr : &found->second;
  HandleUse use;
  use.fault = h->EnterLocked(op, r ? HandleName(r->id) : std::string("unknown"), r ? r->id : 0);
  if (!r) {
    h->ViolationLocked(std::string(op) + " of a handle this host did not make");
  } else if (!r->live) {
    h->ViolationLocked(std::string(op) + " of handle h" + std::to_string(r->id) + ", which was already disposed");
  } else {
    use.record = r;
  }
  return use;
}

void* LockHandle(PF_Handle handle) {
  HostState* h = Resolve("host_lock_handle");
  if (!h) return nullptr;
  std::lock_guard lock(h->mu);
  const HandleUse use = UseHandle(h, handle, "host_lock_handle");
  if (!use.record || use.fault) return nullptr;
  ++use.record->lock_count;
  return use.record->data.get();
}

void UnlockHandle(PF_Handle handle) {
  HostState* h = Resolve("host_unlock_handle");
  if (!h) return;
  std::lock_guard lock(h->mu);
  const HandleUse use = UseHandle(h, handle, "host_unlock_handle");
  // Unlocking an unlocked handle is harmless to the host, as it is to the real one.
  if (use.record && use.record->lock_count > 0) --use.record->lock_count;
}

void DisposeHandle(PF_Handle handle) {
  HostState* h = Resolve("host_dispose_handle");
  if (!h) return;
  std::lock_guard lock(h->mu);
  const HandleUse use = UseHandle(h, handle, "host_dispose_handle");
  if (!use.record) return;
  use.record->data.reset();
  use.record->live = false;
  h->live_handles.erase(use.record->id);
  *handle = nullptr;  // the master pointer, which lives in this host
}

// ---- Utility, parameter utilities, iteration, world suites -------------------

A_Err RegisterWithAEGP(AEGP_GlobalRefcon, const A_char* name, AEGP_PluginID* id) {
  HostState* h = Resolve("AEGP_RegisterWithAEGP");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("AEGP_RegisterWithAEGP", name ? name : "", 0);
  if (!id) {
    h->ViolationLocked("AEGP_RegisterWithAEGP with no place for the plug-in id");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) return fault->error;
  *id = h->options.plugin_id;
  return PF_Err_NONE;
}

PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def) {
  HostState* h = Resolve(effect_ref, "PF_UpdateParamUI");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("PF_UpdateParamUI", "", index);
  if (!CheckRef(h, effect_ref, "PF_UpdateParamUI")) return PF_Err_BAD_CALLBACK_PARAM;
  if (!def) {
    h->ViolationLocked("PF_UpdateParamUI with a null definition");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (index < 1 || index > h->params.Count()) return PF_Err_INVALID_INDEX;
  if (fault) return fault->error;
  if (def->param_type != h->params.Registered(index).param_type) {
    h->ViolationLocked("PF_UpdateParamUI of parameter " + std::to_string(index) + " with a definition of type " +
                       std::to_string(def->param_type) + ", registered as " +
                       std::to_string(h->params.Registered(index).param_type));
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  h->ui_updates[index].push_back(*def);
  h->params.SetUiFlags(index, def->ui_flags);  // only the UI changes; values are the user's
  return PF_Err_NONE;
}

A_Err GetNumThreads(A_long* count) {
  HostState* h = Resolve("AEGP_GetNumThreads");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("AEGP_GetNumThreads", "", 0);
  if (!count) {
    h->ViolationLocked("AEGP_GetNumThreads with no place for the count");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) return fault->error;
  *count = h->options.num_threads;
  return PF_Err_NONE;
}

// Runs every iteration on worker threads, which pull indices from a shared
// counter, and returns once all have finished. The threads are the host's
// kept ones (HostState::workers). The result is that of the
// lowest iteration index that failed, so it does not depend on timing.
PF_Err IterateGeneric(A_long iterations, void* refcon, PF_IterateGenericFunc fn) {
  HostState* h = Resolve("iterate_generic");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  A_long workers = 0;
  {
    std::lock_guard lock(h->mu);
    const auto fault = h->EnterLocked("iterate_generic", "", iterations);
    if (iterations < 0 || (iterations > 0 && !fn)) {
      h->ViolationLocked("iterate_generic with " + std::to_string(iterations) +
                         (fn ? " iterations" : " iterations and no callback"));
      return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (fault) return fault->error;
    workers = std::clamp<A_long>(h->options.num_threads, 1, std::max<A_long>(iterations, 1));
  }
  if (iterations == 0) return PF_Err_NONE;

  std::atomic<long long> next{0};
  std::mutex result_mu;
  A_long failed_index = std::numeric_limits<A_long>::max();
  PF_Err result = PF_Err_NONE;
  const std::function<void(int)> work = [&](int thread_index) {
    CurrentHost current(h);
    for (long long i = next++; i < iterations; i = next++) {
      PF_Err err = PF_Err_NONE;
      h->CallInThreadState("the iterate_generic callback", [&] {
        try {
          err = fn(refcon, thread_index, static_cast<A_long>(i), iterations);
        } catch (...) {
          h->Violation("an exception left the iterate_generic callback");
          err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
      });
      if (err != PF_Err_NONE) {
        std::lock_guard lock(result_mu);
        if (i < failed_index) {
          failed_index = static_cast<A_long>(i);
          result = err;
        }
      }
    }
  };
  if (h->workers.Run(static_cast<int>(workers), work) > 0) return result;
  // The pool is busy (a nested or concurrent call) or could start no thread:
  // threads of this call's own.
  std::vector<std::thread> threads;
  for (A_long t = 0; t < workers; ++t) {
    try {
      threads.emplace_back(work, t);
    } catch (const std::system_error&) {
      break;  // the threads already running take the remaining iterations
    }
  }
  if (threads.empty()) work(0);
  for (auto& t : threads) t.join();
  return result;
}

PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
  HostState* h = Resolve("PF_GetPixelFormat");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("PF_GetPixelFormat", "", 0);
  if (!world || !format) {
    h->ViolationLocked("PF_GetPixelFormat with a null world or no place for the format");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const World* ours = h->FindWorldLocked(world);
  if (!ours) {
    h->ViolationLocked("PF_GetPixelFormat of a world this host did not hand out");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) return fault->error;
  *format = h->format_answer.value_or(ours->format());
  return PF_Err_NONE;
}

// ---- PF_InData callbacks ------------------------------------------------------

// The time a checkout asks for, as logged: "time=<what_time> step=<time_step>
// scale=<time_scale>".
std::string TimeDetail(A_long what_time, A_long time_step, A_u_long time_scale) {
  return "time=" + std::to_string(what_time) + " step=" + std::to_string(time_step) +
         " scale=" + std::to_string(time_scale);
}

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
  HostState* h = Resolve(effect_ref, "add_param");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("add_param", def ? NameOf(*def) : "", index);
  if (!CheckRef(h, effect_ref, "add_param")) return PF_Err_BAD_CALLBACK_PARAM;
  if (h->phase != Phase::kParamsSetup) {
    h->ViolationLocked("add_param outside PARAMS_SETUP");
    return PF_Err_INVALID_CALLBACK;
  }
  if (fault) return fault->error;
  std::vector<std::string> problems;
  const PF_Err err = h->params.Add(index, def, problems);
  for (const auto& p : problems) h->ViolationLocked(p);
  return err;
}

PF_Err CheckoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                     A_u_long time_scale, PF_ParamDef* def) {
  HostState* h = Resolve(effect_ref, "checkout_param");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("checkout_param", TimeDetail(what_time, time_step, time_scale), index);
  if (!CheckRef(h, effect_ref, "checkout_param")) return PF_Err_BAD_CALLBACK_PARAM;
  if (!def || time_scale == 0) {
    h->ViolationLocked("checkout_param with a null definition or a time scale of 0");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) return fault->error;
  if (index < 0 || index > h->params.Count()) return PF_Err_INVALID_INDEX;
  *def = index == 0 ? h->LayerDefinition(h->ToHostTime(what_time, time_scale))
                    : h->HandOut(h->params.DefinitionAt(index, what_time, time_scale, h->options.time_scale));
  h->param_checkouts.push_back({def, index});
  return PF_Err_NONE;
}

PF_Err CheckinParam(PF_ProgPtr effect_ref, PF_ParamDef* def) {
  HostState* h = Resolve(effect_ref, "checkin_param");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  auto& outstanding = h->param_checkouts;
  const auto found = std::find_if(outstanding.rbegin(), outstanding.rend(),
                                  [def](const HostState::ParamCheckout& c) { return c.def == def; });
  const auto fault = h->EnterLocked("checkin_param", "", found == outstanding.rend() ? -1 : found->index);
  if (!CheckRef(h, effect_ref, "checkin_param")) return PF_Err_BAD_CALLBACK_PARAM;
  if (found == outstanding.rend()) {
    h->ViolationLocked("checkin_param of a definition that is not checked out");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  outstanding.erase(std::next(found).base());
  return fault ? fault->error : PF_Err_NONE;
}

// The formatted text is bounded to the size of return_msg, whatever buffer
// it goes to; a longer text is cut and recorded.
int Sprintf(A_char* buffer, const A_char* format, ...) {
  constexpr std::size_t kBound = PF_MAX_EFFECT_MSG_LEN + 1;
  HostState* h = Resolve("sprintf");
  if (!buffer || !format) {
    if (h) h->Violation("sprintf with a null buffer or format");
    return 0;
  }
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, kBound, format, args);
  va_end(args);
  if (n < 0) buffer[0] = 0;
  const auto written = static_cast<int>(strnlen(buffer, kBound));
  if (h) {
    std::lock_guard lock(h->mu);
    h->EnterLocked("sprintf", buffer, written);
    if (n < 0) h->ViolationLocked("sprintf could not format \"" + std::string(format) + "\"");
    if (n >= static_cast<int>(kBound)) {
      h->ViolationLocked("sprintf of " + std::to_string(n) + " characters cut to " + std::to_string(written));
    }
  }
  return written;
}

// Copies at most a parameter name's worth (31 characters and the NUL); a
// longer source is cut and recorded rather than overflowing the name field.
A_char* Strcpy(A_char* dest, const A_char* src) {
  constexpr std::size_t kMaxChars = PF_MAX_EFFECT_PARAM_NAME_LEN;
  HostState* h = Resolve("strcpy");
  if (!dest || !src) {
    if (h) h->Violation("strcpy with a null destination or source");
    return dest;
  }
  const std::size_t n = strnlen(src, kMaxChars + 1);
  const std::size_t copied = std::min(n, kMaxChars);
  std::memmove(dest, src, copied);
  dest[copied] = 0;
  if (h) {
    std::lock_guard lock(h->mu);
    h->EnterLocked("strcpy", dest, static_cast<long long>(copied));
    if (n > kMaxChars) {
      h->ViolationLocked("strcpy of a source longer than " + std::to_string(kMaxChars) + " characters, cut to \"" +
                         std::string(dest) + "\"");
    }
  }
  return dest;
}

// ---- Smart-render callbacks ---------------------------------------------------

bool IsEmpty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

bool SameRect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
  const PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                   std::min(a.bottom, b.bottom)};
  return IsEmpty(r) ? PF_LRect{0, 0, 0, 0} : r;
}

// Grants the request clipped to the layer, and the layer's whole extent.
PF_Err CheckoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id, const PF_RenderRequest* req,
                     A_long what_time, A_long time_step, A_u_long time_scale, PF_CheckoutResult* result) {
  HostState* h = Resolve(effect_ref, "checkout_layer");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const std::string detail =
      "id=" + std::to_string(checkout_id) + " " + TimeDetail(what_time, time_step, time_scale);
  const auto fault = h->EnterLocked("checkout_layer", detail, index);
  if (!CheckRef(h, effect_ref, "checkout_layer")) return PF_Err_BAD_CALLBACK_PARAM;
  if (h->phase != Phase::kPreRender || !h->pending) {
    h->ViolationLocked("checkout_layer outside SMART_PRE_RENDER");
    return PF_Err_INVALID_CALLBACK;
  }
  if (!req || !result || time_scale == 0) {
    h->ViolationLocked("checkout_layer with a null request or result, or a time scale of 0");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) return fault->error;
  if (index != 0) return PF_Err_INVALID_INDEX;  // the effect's only layer is its input
  auto& checkouts = h->pending->report.layer_checkouts;
  if (std::any_of(checkouts.begin(), checkouts.end(),
                  [&](const LayerCheckout& c) { return c.checkout_id == checkout_id; })) {
    h->ViolationLocked("checkout_layer repeats the checkout id " + std::to_string(checkout_id));
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const World& layer = h->LayerAt(h->ToHostTime(what_time, time_scale));
  FillRecord("PF_CheckoutResult", *result, h->Fill());
  result->result_rect = Intersect(req->rect, layer.bounds());
  result->max_result_rect = layer.bounds();
  checkouts.push_back(LayerCheckout{checkout_id, index, *req, what_time, time_step, time_scale, *result});
  return PF_Err_NONE;
}

PF_Err CheckoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
  HostState* h = Resolve(effect_ref, "checkout_layer_pixels");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("checkout_layer_pixels", "", checkout_id);
  if (!CheckRef(h, effect_ref, "checkout_layer_pixels")) return PF_Err_BAD_CALLBACK_PARAM;
  if (h->phase != Phase::kRender || !h->pending) {
    h->ViolationLocked("checkout_layer_pixels outside SMART_RENDER");
    return PF_Err_INVALID_CALLBACK;
  }
  if (!pixels) {
    h->ViolationLocked("checkout_layer_pixels with no place for the world");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) {
    if (fault->null_result) *pixels = nullptr;
    return fault->null_result ? PF_Err_NONE : fault->error;
  }
  const auto& checkouts = h->pending->report.layer_checkouts;
  const auto c = std::find_if(checkouts.begin(), checkouts.end(),
                              [&](const LayerCheckout& x) { return x.checkout_id == checkout_id; });
  if (c == checkouts.end()) {
    h->ViolationLocked("checkout_layer_pixels of checkout id " + std::to_string(checkout_id) +
                       ", which pre-render did not check out");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  auto& input = h->input_worlds[checkout_id];
  if (!input.world) {
    const World& layer = h->LayerAt(h->ToHostTime(c->what_time, c->time_scale));
    // Clipped again in case the test changed the image since pre-render.
    const PF_LRect rect = Intersect(c->result.result_rect, layer.bounds());
    const auto kept = h->kept_inputs.find(checkout_id);
    if (h->options.reuse_worlds && kept != h->kept_inputs.end() && kept->second.layer == &layer &&
        kept->second.input_generation == h->input_generation && SameRect(kept->second.rect, rect) &&
        kept->second.world->format() == layer.format()) {
      input = std::move(kept->second);
      h->kept_inputs.erase(kept);
    } else {
      try {
        input.world = std::make_unique<World>(layer.Crop(rect, h->options.row_padding_bytes));
        if (h->options.strict) input.before = input.world->raw_bytes();
      } catch (const std::bad_alloc&) {
        h->input_worlds.erase(checkout_id);
        return PF_Err_OUT_OF_MEMORY;
      }
      input.layer = &layer;
      input.input_generation = h->input_generation;
      input.rect = rect;
    }
  }
  input.record = h->WorldRecord(*input.world);
  if (h->options.alter_world) h->options.alter_world(input.record, false);
  *pixels = &input.record;
  return PF_Err_NONE;
}

PF_Err CheckoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
  HostState* h = Resolve(effect_ref, "checkout_output");
  if (!h) return PF_Err_BAD_CALLBACK_PARAM;
  std::lock_guard lock(h->mu);
  const auto fault = h->EnterLocked("checkout_output", "", 0);
  if (!CheckRef(h, effect_ref, "checkout_output")) return PF_Err_BAD_CALLBACK_PARAM;
  if (h->phase != Phase::kRender || !h->pending) {
    h->ViolationLocked("checkout_output outside SMART_RENDER");
    return PF_Err_INVALID_CALLBACK;
  }
  if (!output) {
    h->ViolationLocked("checkout_output with no place for the world");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  if (fault) {
    if (fault->null_result) *output = nullptr;
    return fault->null_result ? PF_Err_NONE : fault->error;
  }
  if (!h->output_world) {
    // Sized to the output rectangle that pre-render reported.
    const PF_LRect& r = h->pending->report.pre_render_output.result_rect;
    const auto span = [](A_long from, A_long to) {
      const std::int64_t length = std::int64_t{to} - from;
      return static_cast<A_long>(std::clamp<std::int64_t>(length, 0, std::numeric_limits<A_long>::max()));
    };
    const A_long width = span(r.left, r.right);
    const A_long height = span(r.top, r.bottom);
    const PF_PixelFormat format = h->options.output_format.value_or(h->pending->format);
    const auto& kept = h->kept_output;
    if (h->options.reuse_worlds && kept && kept->width() == width && kept->height() == height &&
        kept->format() == format) {
      h->output_world = std::move(h->kept_output);
    } else {
      try {
        h->output_world = std::make_unique<World>(width, height, format, h->options.row_padding_bytes);
      } catch (const std::exception&) {  // too large to make
        return PF_Err_OUT_OF_MEMORY;
      }
      h->output_world->FillPixelBytes(h->options.output_fill);
    }
  }
  h->output_record = h->WorldRecord(*h->output_world);
  if (h->options.alter_world) h->options.alter_world(h->output_record, true);
  *output = &h->output_record;
  return PF_Err_NONE;
}

}  // namespace

// ---- Routing and tables --------------------------------------------------------

GivenFloatControl::GivenFloatControl(const FloatControl& state)
    : state_(state), previous_(t_given_float_control) {
  t_given_float_control = &state_;
}
GivenFloatControl::~GivenFloatControl() { t_given_float_control = previous_; }

const FloatControl* GivenFloatControlOfThread() { return t_given_float_control; }

CurrentHost::CurrentHost(HostState* host) : previous_(t_current) { t_current = host; }
CurrentHost::~CurrentHost() { t_current = previous_; }

void RegisterHost(HostState* host) {
  std::lock_guard lock(RegistryMutex());
  Registry().push_back(host);
}

void UnregisterHost(HostState* host) {
  std::lock_guard lock(RegistryMutex());
  std::erase(Registry(), host);
}

void UnusedSlotCalled(const std::string& slot) {
  HostState* h = Resolve(slot.c_str());
  if (!h) return;
  std::lock_guard lock(h->mu);
  h->EnterLocked(slot.c_str(), "", 0);
  h->ViolationLocked("called " + slot + ", a host function the effect must not use");
}

SPBasicSuite* ProcessBasicSuite() {
  static SPBasicSuite table = MakeSuite<SPBasicSuite>("SPBasicSuite", [](auto& s) {
    s.AcquireSuite = AcquireSuite;
    s.ReleaseSuite = ReleaseSuite;
  });
  return &table;
}

PF_InteractCallbacks InteractCallbacksTable(unsigned char fill) {
  PF_InteractCallbacks table;
  FillRecord("PF_InteractCallbacks", table, fill);
  table.checkout_param = CheckoutParam;
  table.checkin_param = CheckinParam;
  table.add_param = AddParam;
  return table;
}

PF_UtilCallbacks UtilCallbacksTable(unsigned char fill) {
  PF_UtilCallbacks table;
  FillRecord("PF_UtilCallbacks", table, fill);
  FillRecord("PF_ANSICallbacks", table.ansi, fill);
  FillRecord("PF_ColorCallbacks", table.colorCB, fill);
  table.ansi.sprintf = Sprintf;
  table.ansi.strcpy = Strcpy;
  return table;
}

PF_PreRenderCallbacks PreRenderCallbacksTable(unsigned char fill) {
  PF_PreRenderCallbacks table;
  FillRecord("PF_PreRenderCallbacks", table, fill);
  table.checkout_layer = CheckoutLayer;
  return table;
}

PF_SmartRenderCallbacks SmartRenderCallbacksTable(unsigned char fill) {
  PF_SmartRenderCallbacks table;
  FillRecord("PF_SmartRenderCallbacks", table, fill);
  table.checkout_layer_pixels = CheckoutLayerPixels;
  table.checkout_output = CheckoutOutput;
  return table;
}

}  // namespace simhost::detail
