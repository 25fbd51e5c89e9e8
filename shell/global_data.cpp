// Global setup and setdown: the one handle that lives as long as the plug-in.
#include "shell/entry_point.h"
#include "shell/plugin_facts.h"
#include "shell/suite_cache.h"

namespace qv {
namespace {

// The global handle until it is handed to the host as global data: unlocks it
// if it was locked, and disposes of it unless it was handed over, also when a
// raised error leaves global setup early.
class PendingHandle {
 public:
  PendingHandle(const PF_HandleSuite1& suite, PF_Handle handle) : suite_(suite), handle_(handle) {}
  ~PendingHandle() {
    if (locked_) {
      suite_.host_unlock_handle(handle_);
    }
    if (handle_ != nullptr) {
      suite_.host_dispose_handle(handle_);
    }
  }
  PendingHandle(const PendingHandle&) = delete;
  PendingHandle& operator=(const PendingHandle&) = delete;

  void* Lock() {
    locked_ = true;  // unlocked even if the lock yields nothing
    return suite_.host_lock_handle(handle_);
  }
  void Unlock() {
    suite_.host_unlock_handle(handle_);
    locked_ = false;
  }
  PF_Handle Release() {
    PF_Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  const PF_HandleSuite1& suite_;
  PF_Handle handle_;
  bool locked_ = false;
};

}  // namespace

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
  out_data->my_version = facts::kVersionWord;
  out_data->out_flags |= facts::kOutFlags;
  out_data->out_flags2 |= facts::kOutFlags2;

  SuiteCache suites(in_data->pica_basicP);
  const PF_HandleSuite1& handles = suites.HandleSuite();
  static_assert(sizeof(AEGP_PluginID) == 4);
  PF_Handle handle = handles.host_new_handle(sizeof(AEGP_PluginID));
  if (handle == nullptr) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
  PendingHandle pending(handles, handle);

  PF_Err err = PF_Err_NONE;
  bool registered = false;
  if (void* plugin_id = pending.Lock()) {
    err = suites.UtilitySuite().AEGP_RegisterWithAEGP(nullptr, facts::kRegistrationName,
                                                      static_cast<AEGP_PluginID*>(plugin_id));
    registered = !err;
  }
  pending.Unlock();
  // A handle that holds no identifier is not kept: it would only leak.
  if (registered) {
    out_data->global_data = pending.Release();
  }
  return err;
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* /*out_data*/) {
  // Opening the cache acquires nothing, but it wants a basic suite: with no
  // global data there is nothing to ask of the host, so none is opened.
  if (in_data->global_data != nullptr) {
    SuiteCache suites(in_data->pica_basicP);
    suites.HandleSuite().host_dispose_handle(in_data->global_data);
  }
  return PF_Err_NONE;
}

}  // namespace qv
