// The fault sweep: every host operation of every command of a full host run,
// made to fail one at a time, and every suite refused once per command.
//
// Each step of the run (global setup, parameter setup, the UI update for each
// tone count, a pre-render whose frame is dropped, a render at each depth,
// global setdown) is first run cleanly on a fresh host and its host
// operations recorded. Then, for each recorded operation, the step is run
// again on a fresh host brought to the same point, with exactly that
// operation failing: with an error code where it reports one, and with a null
// result where it hands out a table, handle, address or world. Whatever fails,
// the effect must report it with a non-zero code (the host's own where it
// passes codes through), give back every suite it took, leave no handle the
// host does not hold, write no output pixel when the render fails, misuse
// nothing and not crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "shell/entry_point.h"
#include "shell/param_index.h"
#include "shell/params.h"
#include "shell/pipl.h"
#include "simhost/host.h"
#include "worlds.h"

namespace qv::reliability {
namespace {

using simhost::CallRecord;
using simhost::Fault;
using simhost::FaultScope;
using simhost::FrameReport;
using simhost::Host;

// A code the effect never makes itself, so a pass-through is unmistakable.
constexpr PF_Err kInjectedError = 0x5EED;
constexpr unsigned char kOutputFill = 0x5C;
constexpr std::string_view kDeleteFunction = "delete_pre_render_data_func";

// How each host operation can fail, from the host interface: by its result
// code, by handing out null, or not at all.
struct OpFacts {
  std::string_view op;
  bool reports_error;
  bool hands_out_object;
};

constexpr OpFacts kOpFacts[] = {
    {"AcquireSuite", true, true},
    {"ReleaseSuite", true, false},
    {"host_new_handle", false, true},   // failure is a null handle
    {"host_lock_handle", false, true},  // failure is a null address
    {"host_unlock_handle", false, false},
    {"host_dispose_handle", false, false},
    {"AEGP_RegisterWithAEGP", true, false},
    {"PF_UpdateParamUI", true, false},
    {"AEGP_GetNumThreads", true, false},
    {"iterate_generic", true, false},
    {"PF_GetPixelFormat", true, false},
    {"add_param", true, false},
    {"checkout_param", true, false},
    {"checkin_param", true, false},
    {"checkout_layer", true, false},
    {"checkout_layer_pixels", true, true},
    {"checkout_output", true, true},
    {"sprintf", false, false},
    {"strcpy", false, false},
};

const OpFacts* FactsOf(const std::string& op) {
  for (const OpFacts& f : kOpFacts) {
    if (f.op == op) return &f;
  }
  return nullptr;
}

// What a faulted run must end in, and under which heading it is counted.
enum class Expect {
  kHostCode,         // the command returns the injected code unchanged
  kEffectCode,       // the command returns the effect's own code for this failure
  kUnchanged,        // the plug-in cannot see the failure, or has nothing to report it with
  kNoChannel,        // the delete callback returns nothing to report with
  kSuccessByDesign,  // global setup without a plug-in id still succeeds
};

struct Expectation {
  Expect kind;
  PF_Err code = PF_Err_NONE;  // for kEffectCode
  std::string heading;
};

Expectation Expected(const std::string& command, const std::string& op, bool null_result) {
  const OpFacts& facts = *FactsOf(op);
  if (!facts.reports_error && !facts.hands_out_object) {
    return {Expect::kUnchanged, 0, "operation cannot fail (the host ignores the fault)"};
  }
  if (op == "ReleaseSuite" || op == "checkin_param") {
    return {Expect::kUnchanged, 0, "failure ignored by design: the plug-in has already let go"};
  }
  if (command == kDeleteFunction) {
    return {Expect::kNoChannel, 0, "delete callback: no result to report with, the handle stays with the host"};
  }
  if (op == "AcquireSuite" || op == "checkout_layer_pixels" || op == "checkout_output") {
    if (op == "AcquireSuite" || null_result) {
      return {Expect::kEffectCode, PF_Err_BAD_CALLBACK_PARAM, "reported with the effect's code"};
    }
  }
  if (op == "host_new_handle") {
    const PF_Err code = command == "GLOBAL_SETUP" ? PF_Err_INTERNAL_STRUCT_DAMAGED : PF_Err_OUT_OF_MEMORY;
    return {Expect::kEffectCode, code, "reported with the effect's code"};
  }
  if (op == "host_lock_handle") {
    if (command == "GLOBAL_SETUP") {
      return {Expect::kSuccessByDesign, 0, "success by design: setup goes on without a plug-in id"};
    }
    const PF_Err code = command == "SMART_PRE_RENDER" ? PF_Err_OUT_OF_MEMORY : PF_Err_BAD_CALLBACK_PARAM;
    return {Expect::kEffectCode, code, "reported with the effect's code"};
  }
  return {Expect::kHostCode, 0, "reported with the host's own code"};
}

// ---- Steps of a full host run --------------------------------------------------

simhost::HostOptions Options(PF_PixelFormat format) {
  simhost::HostOptions o;
  o.num_threads = 3;
  o.layer_width = 29;
  o.layer_height = 17;
  o.pixel_format = format;
  o.row_padding_bytes = 32;
  o.output_fill = kOutputFill;
  return o;
}

simhost::World Layer(PF_PixelFormat format) {
  const simhost::HostOptions o = Options(format);
  return fuzz::MakeWorld(o.layer_width, o.layer_height, format, 0, fuzz::PixelSource{false, 0x51A7E5EEDull, {}});
}

struct Step {
  std::string name;
  PF_PixelFormat format = PF_PixelFormat_ARGB32;
  std::function<void(Host&)> prepare;                    // brings a fresh host to the step
  std::function<std::optional<FrameReport>(Host&)> run;  // the step: one or more plug-in calls
};

// Parameters away from their defaults, so the render blends and uses all
// five colours.
void SetParams(Host& host) {
  host.SetParam(kParamTones, simhost::PopupValue{4});
  host.SetParam(kParamBaseOn, simhost::PopupValue{2});
  host.SetParam(kParamGamma, 1.7);
  host.SetParam(kParamBlend, simhost::FixedValue{FixedFromWhole(25)});
}

void Setup(Host& host) {
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  SetParams(host);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
}

std::vector<Step> FullRun() {
  std::vector<Step> steps;
  // The About box, which a user can open at any time.
  steps.push_back({"ABOUT", PF_PixelFormat_ARGB32, [](Host&) {},
                   [](Host& h) {
                     h.About();
                     return std::optional<FrameReport>();
                   }});
  steps.push_back({"GLOBAL_SETUP", PF_PixelFormat_ARGB32, [](Host&) {},
                   [](Host& h) {
                     h.GlobalSetup();
                     return std::optional<FrameReport>();
                   }});
  steps.push_back({"PARAMS_SETUP", PF_PixelFormat_ARGB32,
                   [](Host& h) {
                     ASSERT_EQ(h.GlobalSetup(), PF_Err_NONE);
                     SetParams(h);
                   },
                   [](Host& h) {
                     h.ParamsSetup();
                     return std::optional<FrameReport>();
                   }});
  for (A_long tones = 1; tones <= 4; ++tones) {
    steps.push_back({"UPDATE_PARAMS_UI, Tones " + std::to_string(tones), PF_PixelFormat_ARGB32,
                     [tones](Host& h) {
                       Setup(h);
                       h.SetParam(kParamTones, simhost::PopupValue{tones});
                     },
                     [](Host& h) {
                       h.UpdateParamsUI();
                       return std::optional<FrameReport>();
                     }});
  }
  steps.push_back({"SMART_PRE_RENDER, frame dropped", PF_PixelFormat_ARGB32,
                   [](Host& h) {
                     Setup(h);
                     ASSERT_EQ(h.UpdateParamsUI(), PF_Err_NONE);
                   },
                   [](Host& h) { return std::optional<FrameReport>(h.PreRenderOnly(0)); }});
  const struct {
    const char* name;
    PF_PixelFormat format;
  } depths[] = {{"8-bit", PF_PixelFormat_ARGB32}, {"16-bit", PF_PixelFormat_ARGB64}, {"float", PF_PixelFormat_ARGB128}};
  for (const auto& d : depths) {
    steps.push_back({std::string("SMART_RENDER, ") + d.name, d.format,
                     [d](Host& h) {
                       h.SetInput(Layer(d.format));
                       Setup(h);
                       ASSERT_EQ(h.UpdateParamsUI(), PF_Err_NONE);
                       ASSERT_EQ(h.PreRender(0), PF_Err_NONE);
                     },
                     [](Host& h) { return std::optional<FrameReport>(h.RenderPending()); }});
  }
  steps.push_back({"GLOBAL_SETDOWN", PF_PixelFormat_ARGB32,
                   [](Host& h) {
                     Setup(h);
                     ASSERT_EQ(h.UpdateParamsUI(), PF_Err_NONE);
                     ASSERT_EQ(h.RenderFrame(0).err(), PF_Err_NONE);
                   },
                   [](Host& h) {
                     h.GlobalSetdown();
                     return std::optional<FrameReport>();
                   }});
  return steps;
}

// ---- Running a step -------------------------------------------------------------

struct StepRun {
  std::unique_ptr<Host> host;
  std::size_t first_record = 0;  // Calls() index where the step began
  int first_command = 0;         // Commands() index where the step began
  std::optional<FrameReport> frame;

  std::vector<CallRecord> Records() const {
    const std::vector<CallRecord> all = host->Calls();
    return {all.begin() + static_cast<std::ptrdiff_t>(first_record), all.end()};
  }
  std::vector<simhost::CommandRecord> StepCommands() const {
    const auto all = host->Commands();
    return {all.begin() + first_command, all.end()};
  }
};

StepRun RunStep(const Step& step, const std::vector<Fault>& faults) {
  StepRun run;
  run.host = std::make_unique<Host>(&EntryPointFunc, PiplBytes(), Options(step.format));
  step.prepare(*run.host);
  run.first_record = run.host->Calls().size();
  run.first_command = static_cast<int>(run.host->Commands().size());
  for (const Fault& f : faults) run.host->InjectFault(f);
  run.frame = step.run(*run.host);
  return run;
}

bool IsHostOperation(const CallRecord& r) { return r.op != "EntryPointFunc" && r.op != kDeleteFunction; }

// The detail a fault is matched on: the log names a new handle only once it
// exists, after the host has decided whether the call fails.
std::string MatchDetail(const CallRecord& r) { return r.op == "host_new_handle" ? std::string() : r.detail; }

// The fault that fails exactly this record: its op, detail and argument, at
// its rank among the step's calls that share them.
Fault FaultAt(const std::vector<CallRecord>& records, std::size_t i, bool null_result, PF_Err error) {
  const CallRecord& r = records[i];
  int rank = 0;
  for (std::size_t j = 0; j <= i; ++j) {
    const CallRecord& o = records[j];
    rank += o.op == r.op && MatchDetail(o) == MatchDetail(r) && o.arg == r.arg ? 1 : 0;
  }
  return Fault{r.op, MatchDetail(r), r.arg, rank, FaultScope::kAlways, error, null_result};
}

// ---- Checking a faulted run --------------------------------------------------------

struct Injection {
  std::string label;  // for messages
  std::vector<Fault> faults;
  int target = 0;  // Commands() index of the plug-in call that meets the faults
  Expectation expect;
};

bool Untouched(const simhost::World& output) {
  simhost::World fill = output;
  fill.FillPixelBytes(kOutputFill);
  return output.SamePixels(fill);
}

// Every broken rule of one faulted run, one line each.
std::vector<std::string> Check(const Step& step, const StepRun& clean, const StepRun& run, const Injection& in) {
  std::vector<std::string> problems;
  const auto fail = [&](const std::string& what) { problems.push_back(step.name + ", " + in.label + ": " + what); };

  const std::vector<CallRecord> records = run.Records();
  const auto fired = std::count_if(records.begin(), records.end(), [](const CallRecord& r) { return r.faulted; });
  if (fired != static_cast<std::ptrdiff_t>(in.faults.size())) {
    fail("expected " + std::to_string(in.faults.size()) + " faults to fire, " + std::to_string(fired) + " did");
  }
  for (const CallRecord& r : records) {
    if (r.faulted && r.call != in.target) fail("a fault fired in another plug-in call than the one aimed at");
  }

  const auto commands = run.host->Commands();
  const auto clean_commands = clean.host->Commands();
  if (commands.size() <= static_cast<std::size_t>(in.target)) {
    fail("the plug-in call aimed at never happened");
    return problems;
  }
  const simhost::CommandRecord& target = commands[static_cast<std::size_t>(in.target)];
  const PF_Err clean_err = clean_commands[static_cast<std::size_t>(in.target)].err;
  switch (in.expect.kind) {
    case Expect::kHostCode:
      if (target.err != kInjectedError)
        fail(target.name + " returned " + std::to_string(target.err) + ", not the host's code");
      break;
    case Expect::kEffectCode:
      if (target.err != in.expect.code) {
        fail(target.name + " returned " + std::to_string(target.err) + ", expected " + std::to_string(in.expect.code));
      }
      break;
    case Expect::kSuccessByDesign:
      if (target.err != PF_Err_NONE || run.host->GlobalData() != nullptr) {
        fail("global setup without a plug-in id must succeed and keep no global data");
      }
      break;
    case Expect::kUnchanged:
    case Expect::kNoChannel:
      for (std::size_t i = static_cast<std::size_t>(clean.first_command); i < commands.size(); ++i) {
        if (i < clean_commands.size() && commands[i].err != clean_commands[i].err) {
          fail(commands[i].name + " returned " + std::to_string(commands[i].err) + " where the clean run returned " +
               std::to_string(clean_commands[i].err));
        }
      }
      break;
  }
  if (in.expect.kind == Expect::kHostCode || in.expect.kind == Expect::kEffectCode) {
    if (clean_err != PF_Err_NONE) fail("the clean run already failed");
  }

  for (std::size_t i = static_cast<std::size_t>(run.first_command); i < commands.size(); ++i) {
    for (const auto& [suite, balance] : commands[i].suites) {
      if (balance.acquired != balance.released) {
        fail(commands[i].name + " acquired \"" + suite.first + "\" " + std::to_string(balance.acquired) +
             " times and released it " + std::to_string(balance.released) + " times");
      }
    }
  }
  const bool setdown_failed = step.name == "GLOBAL_SETDOWN" && target.err != PF_Err_NONE;
  for (const std::string& v : run.host->Violations()) {
    // A setdown that could not reach the handle suite says so with its
    // result; the host then finds the global handle undisposed.
    const bool global_left =
        v.starts_with("after GLOBAL_SETDOWN: handle") && v.ends_with("made during GLOBAL_SETUP, was never disposed");
    if (!(setdown_failed && global_left)) fail("host: " + v);
  }

  // Every live handle is the global handle, made in global setup, while the
  // host holds it as global data. Two failures leave a handle with the host by
  // necessity, and both are counted apart: the delete callback that cannot
  // reach the handle suite, and a global setdown that cannot (it returns 516,
  // so the host knows).
  const bool global_held = run.host->GlobalData() != nullptr || setdown_failed;
  std::size_t stranded = 0;
  const auto live = run.host->LiveHandles();
  for (const simhost::HandleInfo& h : live) {
    const bool global =
        h.created_in_call >= 0 && commands[static_cast<std::size_t>(h.created_in_call)].name == "GLOBAL_SETUP";
    if (global && global_held) continue;
    if (in.expect.kind == Expect::kNoChannel) {
      ++stranded;
      continue;
    }
    fail("handle h" + std::to_string(h.id) + " of " + std::to_string(h.size) +
         " bytes is live and the host does not hold it");
  }
  if (stranded > 1) fail("more than the frame's one handle stranded");
  for (const simhost::HandleInfo& h : live) {
    if (h.lock_count != 0) fail("handle h" + std::to_string(h.id) + " left locked");
  }

  if (run.frame) {
    const FrameReport& f = *run.frame;
    if (f.pre_render_err != PF_Err_NONE) {
      const PF_LRect& r = f.pre_render_output.result_rect;
      const PF_LRect& m = f.pre_render_output.max_result_rect;
      if (r.right != 0 || r.bottom != 0 || m.right != 0 || m.bottom != 0)
        fail("a failed pre-render set output rectangles");
      if (f.pre_render_output.pre_render_data != nullptr) fail("a failed pre-render handed the host pre-render data");
    }
    if (f.rendered && f.output) {
      if (f.render_err != PF_Err_NONE && !Untouched(*f.output)) fail("a failed render wrote output pixels");
      if (f.render_err == PF_Err_NONE &&
          !(clean.frame && clean.frame->output && f.output->SamePixels(*clean.frame->output))) {
        fail("a render that succeeded despite the fault differs from the clean render");
      }
    }
  }
  if (in.expect.kind == Expect::kEffectCode && in.expect.code == PF_Err_BAD_CALLBACK_PARAM &&
      in.faults.front().op == "AcquireSuite" && in.faults.front().detail == kPFWorldSuite) {
    // The world suite goes through the reporting acquire: the host shows why.
    const PF_OutData& out = run.host->LastOutData();
    if (!(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) || std::string(out.return_msg) != "Couldn't load suite.") {
      fail("a refused world suite was not reported through the host's message area");
    }
  }
  return problems;
}

// ---- The sweep ---------------------------------------------------------------------

struct Tally {
  int ops = 0, error_runs = 0, null_runs = 0, cannot_fail_runs = 0, refusals = 0;
};

TEST(FaultSweep, EveryHostFailureIsReportedAndCleanedUp) {
  std::map<std::string, int> outcomes;
  std::set<std::string> ops_seen;
  std::vector<std::pair<std::string, Tally>> tallies;
  int injected = 0, survived = 0;

  for (const Step& step : FullRun()) {
    const StepRun clean = RunStep(step, {});
    ASSERT_FALSE(::testing::Test::HasFatalFailure()) << step.name << ": preparing the host failed";
    for (const auto& c : clean.StepCommands()) ASSERT_EQ(c.err, PF_Err_NONE) << step.name << ": " << c.name;
    ASSERT_TRUE(clean.host->Violations().empty()) << step.name << ": " << clean.host->Violations().front();

    const std::vector<CallRecord> all = clean.Records();
    std::vector<CallRecord> records;
    std::copy_if(all.begin(), all.end(), std::back_inserter(records), IsHostOperation);
    Tally tally;
    tally.ops = static_cast<int>(records.size());
    ASSERT_GT(tally.ops, 0) << step.name << " made no host call";
    const auto command_name = [&](int call) { return clean.host->Commands()[static_cast<std::size_t>(call)].name; };

    const auto attempt = [&](const Injection& in) {
      ++injected;
      const StepRun run = RunStep(step, in.faults);
      const auto problems = Check(step, clean, run, in);
      for (const std::string& p : problems) ADD_FAILURE() << p;
      if (problems.empty()) {
        ++survived;
        ++outcomes[in.expect.heading];
      }
    };

    for (std::size_t i = 0; i < records.size(); ++i) {
      const CallRecord& r = records[i];
      ops_seen.insert(r.op);
      const OpFacts* facts = FactsOf(r.op);
      if (facts == nullptr) {
        ADD_FAILURE() << step.name << ": host operation " << r.op << " has no failure facts";
        continue;
      }
      const std::string where = r.op + " (" + r.detail + ", " + std::to_string(r.arg) + ")";
      if (facts->reports_error || !facts->hands_out_object) {
        // Operations that cannot fail are run too: nothing may change.
        (facts->reports_error ? tally.error_runs : tally.cannot_fail_runs)++;
        attempt({where + " fails with an error",
                 {FaultAt(records, i, false, kInjectedError)},
                 r.call,
                 Expected(command_name(r.call), r.op, false)});
      }
      if (facts->hands_out_object) {
        ++tally.null_runs;
        attempt({where + " gives null",
                 {FaultAt(records, i, true, kInjectedError)},
                 r.call,
                 Expected(command_name(r.call), r.op, true)});
      }
    }

    // Each suite refused for the whole of each plug-in call that takes it.
    std::map<std::pair<int, std::string>, std::vector<Fault>> refusals;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].op != "AcquireSuite") continue;
      refusals[{records[i].call, records[i].detail}].push_back(FaultAt(records, i, false, kSPSuiteNotFoundError));
    }
    for (const auto& [key, faults] : refusals) {
      ++tally.refusals;
      attempt({"\"" + key.second + "\" refused", faults, key.first,
               Expected(command_name(key.first), "AcquireSuite", false)});
    }
    tallies.emplace_back(step.name, tally);
  }

  // Every operation the host offers the effect was failed somewhere.
  for (const OpFacts& f : kOpFacts) {
    EXPECT_TRUE(ops_seen.contains(std::string(f.op))) << f.op << " never came up in the sweep";
  }

  std::printf("\nFault sweep over a full host run\n");
  std::printf("  %-34s %5s %7s %6s %12s %8s\n", "step", "ops", "errors", "nulls", "cannot fail", "refused");
  Tally total;
  for (const auto& [name, t] : tallies) {
    std::printf("  %-34s %5d %7d %6d %12d %8d\n", name.c_str(), t.ops, t.error_runs, t.null_runs, t.cannot_fail_runs,
                t.refusals);
    total.ops += t.ops, total.error_runs += t.error_runs, total.null_runs += t.null_runs;
    total.cannot_fail_runs += t.cannot_fail_runs, total.refusals += t.refusals;
  }
  std::printf("  %-34s %5d %7d %6d %12d %8d\n", "total", total.ops, total.error_runs, total.null_runs,
              total.cannot_fail_runs, total.refusals);
  std::printf("Faults injected: %d, survived: %d\n", injected, survived);
  for (const auto& [heading, count] : outcomes) std::printf("  %5d  %s\n", count, heading.c_str());
  EXPECT_EQ(survived, injected);
}

}  // namespace
}  // namespace qv::reliability
