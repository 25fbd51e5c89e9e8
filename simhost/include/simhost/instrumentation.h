// What the host records about a plug-in's use of it, and how a test makes a
// chosen host operation fail.
#ifndef SIMHOST_INSTRUMENTATION_H
#define SIMHOST_INSTRUMENTATION_H

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host_api/ae_all.h"
#include "simhost/float_control.h"

namespace simhost {

// One entry of the host's call log. The plug-in's calls into the host are
// logged under the host's own function names with their key argument:
//
//   op                      detail                  arg
//   AcquireSuite            suite name              version
//   ReleaseSuite            suite name              version
//   host_new_handle         ""                      size
//   host_lock_handle, host_unlock_handle,
//   host_dispose_handle     "h<id>" or "unknown"    handle id (0 when unknown)
//   AEGP_RegisterWithAEGP   plug-in name            0
//   PF_UpdateParamUI        ""                      parameter index
//   AEGP_GetNumThreads      ""                      0
//   iterate_generic         ""                      iterations
//   PF_GetPixelFormat       ""                      0
//   add_param               definition's name       index passed
//   checkout_param          "time=<what_time> step=<time_step> scale=<time_scale>"
//                                                   parameter index
//   checkin_param           ""                      index of the definition
//   checkout_layer          "id=<checkout id> time=<what_time> step=<time_step> scale=<time_scale>"
//                                                   layer parameter index
//   checkout_layer_pixels   ""                      checkout id
//   checkout_output         ""                      0
//   sprintf                 the text written        its length
//   strcpy                  the text copied         its length
//   <Record>.<slot>         ""                      0
//     a function slot the effect must not call (a trap), for example
//     "PF_HandleSuite1.host_get_handle_size"; always also a violation
//
// The host's own calls into the plug-in are logged too, as "EntryPointFunc"
// (detail: the command's name, arg: its number) and
// "delete_pre_render_data_func". The callbacks that iterate_generic runs are
// not host calls and are not logged.
//
// A callback made on a thread that the host handed the effect (the calling
// thread of EntryPointFunc or of the delete function, a worker of
// iterate_generic) must come in the floating-point state the host gave that
// thread for the call: a host runs its own code, upstream renders included, in
// its threads' state. Any other control state is a violation.
struct CallRecord {
  std::string op;
  std::string detail;
  long long arg = 0;
  int call = -1;         // index in Host::Commands() of the plug-in call it came in; -1 outside any
  bool faulted = false;  // an injected fault decided this call's result
  // A callback's: the floating-point state the effect called it in. Empty for
  // the host's own calls into the plug-in.
  std::optional<FloatControl> float_control;
};

// How long an injected fault stays armed and how its occurrences are counted.
enum class FaultScope {
  kNextCall,   // only during the next plug-in call that makes a matching host call (counted
               // within it), then removed at the end of that plug-in call
  kEveryCall,  // during every plug-in call, counting afresh in each
  kAlways,     // counted from now on across calls, never removed
};

// Makes a host operation fail. A call matches when its op equals `op` and,
// where given, its detail equals `detail` and its arg equals `arg` (see
// CallRecord). The `occurrence`-th matching call (1-based) fails; 0 makes
// every matching call fail.
//
// A failing call returns `error` and writes none of its out-arguments. With
// `null_result` it instead returns 0 and hands out null where it gives a
// pointer (AcquireSuite: a null table; checkout_layer_pixels / checkout_output:
// a null world). host_new_handle and host_lock_handle
// report failure only by null, so any fault on them gives null. Faults on
// operations that cannot fail (unlock, dispose, sprintf, strcpy) are ignored.
struct Fault {
  std::string op = {};
  std::string detail = {};
  std::optional<long long> arg = {};
  int occurrence = 1;
  FaultScope scope = FaultScope::kNextCall;
  PF_Err error = PF_Err_INTERNAL_STRUCT_DAMAGED;
  bool null_result = false;
};

// A suite by name and version.
using SuiteKey = std::pair<std::string, A_long>;

struct SuiteBalance {
  int acquired = 0;
  int released = 0;
};

// A memory handle made by the plug-in through the handle suite.
struct HandleInfo {
  int id = 0;                    // 1, 2, ... in order of creation ("h<id>" in the log)
  A_HandleSize size = 0;
  int lock_count = 0;
  int created_in_call = -1;      // index in Host::Commands()
};

// One call of the host into the plug-in: an entry-point command or a call of
// the effect's pre-render-data delete function.
struct CommandRecord {
  std::string name;  // "GLOBAL_SETUP", "SMART_RENDER", ..., "delete_pre_render_data_func"
  PF_Cmd cmd = -1;   // -1 for the delete function
  PF_Err err = PF_Err_NONE;
  std::map<SuiteKey, SuiteBalance> suites;  // acquired and released during the call
  std::vector<HandleInfo> live_handles;     // after the call
};

}  // namespace simhost

#endif
