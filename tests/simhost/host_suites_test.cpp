// The basic suite and the suites it hands out: handles, utility, iteration;
// and fault injection on them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "fake_effect.h"
#include "simhost/host.h"

namespace {

using simhost::Fault;
using simhost::FaultScope;
using simhost::Host;
using simhost::HostOptions;
using simhost_test::Acquire;
using simhost_test::CommandArgs;
using simhost_test::FakeEffect;
using simhost_test::Release;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::SizeIs;

// Any command the host sends without records of its own.
constexpr PF_Cmd kPlainCmd = PF_Cmd_USER_CHANGED_PARAM;

class HostSuitesTest : public testing::Test {
 protected:
  FakeEffect effect;
  Host host{&FakeEffect::Entry};
};

TEST_F(HostSuitesTest, ServesEachDeclaredSuiteAtItsOwnVersionOnly) {
  struct Request {
    const char* name;
    A_long version;
  };
  const std::vector<Request> declared = {{kPFHandleSuite, 2}, {kAEGPUtilitySuite, 7}, {kPFParamUtilsSuite, 2},
                                         {kAEGPIterateSuite, 1}, {kPFIterate8Suite, 1}, {kPFWorldSuite, 2}};
  const std::vector<Request> refused = {
      {kPFHandleSuite, 1}, {kAEGPUtilitySuite, 6}, {kPFWorldSuite, 3}, {"PF Nonexistent Suite", 1}};
  std::vector<bool> served;
  std::vector<SPErr> refusals;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    for (const auto& r : declared) {
      const void* table = nullptr;
      served.push_back(a.in->pica_basicP->AcquireSuite(r.name, r.version, &table) == kSPNoError && table);
      a.in->pica_basicP->ReleaseSuite(r.name, r.version);
    }
    for (const auto& r : refused) {
      const void* table = &r;
      refusals.push_back(a.in->pica_basicP->AcquireSuite(r.name, r.version, &table));
      EXPECT_EQ(table, nullptr);
    }
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(served, ElementsAre(true, true, true, true, true, true));
  EXPECT_THAT(refusals, testing::Each(testing::Ne(kSPNoError)));
  EXPECT_THAT(host.Violations(), SizeIs(4));
  EXPECT_THAT(host.Violations(), testing::Each(HasSubstr("does not provide")));
  const auto suites = host.Commands().back().suites;
  ASSERT_THAT(suites, SizeIs(6));
  for (const auto& [key, balance] : suites) {
    EXPECT_EQ(balance.acquired, 1) << key.first;
    EXPECT_EQ(balance.released, 1) << key.first;
  }
}

TEST_F(HostSuitesTest, UnbalancedAndUnheldSuitesAreViolations) {
  effect.On(kPlainCmd, [](const CommandArgs& a) {
    Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(host.Violations(), ElementsAre("USER_CHANGED_PARAM: suite \"PF Handle Suite\" version 2 acquired 2 "
                                             "times and released 1 times"));
  host.ClearViolations();

  // Held across commands does not count: each command balances its own.
  effect.On(kPlainCmd, [](const CommandArgs& a) {
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(host.Violations(), ElementsAre(HasSubstr("which is not held")));
}

TEST_F(HostSuitesTest, HandlesAreRealMemoryTrackedFromCreationToDisposal) {
  PF_Handle handle = nullptr;
  effect.On(PF_Cmd_GLOBAL_SETUP, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    handle = hs->host_new_handle(16);
    auto* bytes = static_cast<unsigned char*>(hs->host_lock_handle(handle));
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 3);
    EXPECT_EQ(hs->host_lock_handle(handle), bytes);  // locked twice, same address
    hs->host_unlock_handle(handle);
    a.out->global_data = handle;
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  effect.On(PF_Cmd_GLOBAL_SETDOWN, [&](const CommandArgs& a) {
    EXPECT_EQ(a.in->global_data, handle);
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    const auto* bytes = static_cast<const unsigned char*>(hs->host_lock_handle(a.in->global_data));
    EXPECT_EQ(bytes[15], 45);
    hs->host_unlock_handle(a.in->global_data);
    hs->host_unlock_handle(a.in->global_data);
    hs->host_dispose_handle(a.in->global_data);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.GlobalSetup();
  const auto after_setup = host.Commands().back().live_handles;
  ASSERT_THAT(after_setup, SizeIs(1));
  EXPECT_EQ(after_setup[0].size, 16u);
  EXPECT_EQ(after_setup[0].lock_count, 1);
  host.GlobalSetdown();
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(HostSuitesTest, LeakedDoubleDisposedAndForeignHandlesAreViolationsNotCrashes) {
  void* not_a_master = nullptr;
  auto foreign = reinterpret_cast<PF_Handle>(&not_a_master);
  effect.On(PF_Cmd_GLOBAL_SETUP, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    hs->host_new_handle(8);  // h1: never disposed
    PF_Handle h2 = hs->host_new_handle(8);
    hs->host_dispose_handle(h2);
    hs->host_dispose_handle(h2);
    EXPECT_EQ(hs->host_lock_handle(h2), nullptr);
    EXPECT_EQ(hs->host_lock_handle(foreign), nullptr);
    hs->host_dispose_handle(foreign);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.GlobalSetup();
  host.GlobalSetdown();
  EXPECT_EQ(not_a_master, nullptr);  // the host never wrote through a handle it did not make
  EXPECT_THAT(host.Violations(),
              ElementsAre("GLOBAL_SETUP: host_dispose_handle of handle h2, which was already disposed",
                          "GLOBAL_SETUP: host_lock_handle of handle h2, which was already disposed",
                          "GLOBAL_SETUP: host_lock_handle of a handle this host did not make",
                          "GLOBAL_SETUP: host_dispose_handle of a handle this host did not make",
                          "after GLOBAL_SETDOWN: handle h1 of 8 bytes, made during GLOBAL_SETUP, was never disposed"));
}

TEST_F(HostSuitesTest, NewHandleGivesNullBeyondTheHostsLimit) {
  host.options().max_handle_size = 1024;
  std::vector<bool> made;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    PF_Handle big = hs->host_new_handle(1025);
    PF_Handle fits = hs->host_new_handle(1024);
    made = {big != nullptr, fits != nullptr};
    hs->host_dispose_handle(fits);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(made, ElementsAre(false, true));
}

TEST_F(HostSuitesTest, RegistrationWritesTheHostsPluginId) {
  host.options().plugin_id = 4242;
  AEGP_PluginID id = 0;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    const auto* util = Acquire<AEGP_UtilitySuite3>(a.in, kAEGPUtilitySuite, 7);
    const A_Err err = util->AEGP_RegisterWithAEGP(nullptr, "Error!", &id);
    Release(a.in, kAEGPUtilitySuite, 7);
    return err;
  });
  EXPECT_EQ(host.SendCommand(kPlainCmd), PF_Err_NONE);
  EXPECT_EQ(id, 4242);
  EXPECT_EQ(host.CountOf("AEGP_RegisterWithAEGP", "Error!"), 1u);
}

// ---- Iteration ------------------------------------------------------------------------

// Runs `iterations` of `fn` through the host's iterate suite in one command.
template <class Fn>
PF_Err Iterate(Host& host, FakeEffect& effect, A_long iterations, Fn fn) {
  PF_Err result = -1;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    const auto* it = Acquire<PF_Iterate8Suite1>(a.in, kPFIterate8Suite, 1);
    const PF_IterateGenericFunc call = [](void* refcon, A_long thread, A_long i, A_long n) -> PF_Err {
      return (*static_cast<Fn*>(refcon))(thread, i, n);
    };
    result = it->iterate_generic(iterations, &fn, call);
    Release(a.in, kPFIterate8Suite, 1);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  return result;
}

TEST_F(HostSuitesTest, IterationsRunConcurrently) {
  host.options().num_threads = 2;
  std::mutex mu;
  std::condition_variable cv;
  int arrived = 0;
  std::atomic<int> met{0};
  const PF_Err err = Iterate(host, effect, 2, [&](A_long, A_long, A_long) {
    std::unique_lock lock(mu);
    ++arrived;
    cv.notify_all();
    // Both iterations must be in flight at once to get past this point in time.
    if (cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == 2; })) ++met;
    return PF_Err_NONE;
  });
  EXPECT_EQ(err, PF_Err_NONE);
  EXPECT_EQ(met.load(), 2);
}

TEST_F(HostSuitesTest, IterateReturnsAfterEveryIndexRanOnceOnItsWorkers) {
  constexpr A_long kN = 40;
  std::vector<std::atomic<int>> runs(kN);
  std::atomic<int> bad_args{0};
  const PF_Err err = Iterate(host, effect, kN, [&](A_long thread, A_long i, A_long n) {
    if (thread < 0 || thread >= 4 || n != kN) ++bad_args;
    if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ++runs[static_cast<std::size_t>(i)];
    return PF_Err_NONE;
  });
  EXPECT_EQ(err, PF_Err_NONE);
  for (A_long i = 0; i < kN; ++i) EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << i;
  EXPECT_EQ(bad_args.load(), 0);
  EXPECT_EQ(host.CountOf("iterate_generic"), 1u);
}

// A real host keeps its render threads: two calls run on the same threads,
// and a call made from an iteration, while they are busy, still completes.
TEST_F(HostSuitesTest, IterationsRunOnThreadsKeptBetweenCallsAndNestedCallsComplete) {
  host.options().num_threads = 3;
  std::mutex mu;
  auto threads_of_a_call = [&] {
    std::set<std::thread::id> ids;
    EXPECT_EQ(Iterate(host, effect, 12,
                      [&](A_long, A_long, A_long) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        std::lock_guard lock(mu);
                        ids.insert(std::this_thread::get_id());
                        return PF_Err_NONE;
                      }),
              PF_Err_NONE);
    return ids;
  };
  const std::set<std::thread::id> first = threads_of_a_call();
  EXPECT_FALSE(first.empty());
  EXPECT_FALSE(first.count(std::this_thread::get_id()));
  // On a loaded machine a kept thread may get no iteration of a call: the
  // two calls together still ran on no more threads than the host keeps.
  std::set<std::thread::id> both = threads_of_a_call();
  both.insert(first.begin(), first.end());
  EXPECT_LE(both.size(), static_cast<std::size_t>(host.options().num_threads));

  struct Nest {
    const PF_Iterate8Suite1* suite;
    std::atomic<int> inner{0};
  } nest{};
  PF_Err outer = -1;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    nest.suite = Acquire<PF_Iterate8Suite1>(a.in, kPFIterate8Suite, 1);
    outer = nest.suite->iterate_generic(3, &nest, [](void* refcon, A_long, A_long, A_long) -> PF_Err {
      auto* n = static_cast<Nest*>(refcon);
      return n->suite->iterate_generic(4, refcon, [](void* r, A_long, A_long, A_long) -> PF_Err {
        ++static_cast<Nest*>(r)->inner;
        return PF_Err_NONE;
      });
    });
    Release(a.in, kPFIterate8Suite, 1);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_EQ(outer, PF_Err_NONE);
  EXPECT_EQ(nest.inner.load(), 12);
}

TEST_F(HostSuitesTest, IterateReportsTheFailureOfTheLowestIndex) {
  const PF_Err err = Iterate(host, effect, 32, [](A_long, A_long i, A_long) -> PF_Err {
    if (i == 30) return 5;
    if (i == 7) return 77;
    if (i == 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // fails last in time
      return 33;
    }
    return PF_Err_NONE;
  });
  EXPECT_EQ(err, 33);
}

TEST_F(HostSuitesTest, ThreadCountMayBeZeroAndZeroIterationsCallNothing) {
  host.options().num_threads = 0;
  A_long threads = -1;
  effect.On(PF_Cmd_FRAME_SETUP, [&](const CommandArgs& a) {
    const auto* it = Acquire<AEGP_IterateSuite1>(a.in, kAEGPIterateSuite, 1);
    const A_Err err = it->AEGP_GetNumThreads(&threads);
    Release(a.in, kAEGPIterateSuite, 1);
    return err;
  });
  EXPECT_EQ(host.SendCommand(PF_Cmd_FRAME_SETUP), PF_Err_NONE);
  EXPECT_EQ(threads, 0);
  std::atomic<int> calls{0};
  EXPECT_EQ(Iterate(host, effect, 0, [&](A_long, A_long, A_long) { return ++calls, PF_Err_NONE; }), PF_Err_NONE);
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(Iterate(host, effect, 3, [&](A_long, A_long, A_long) { return ++calls, PF_Err_NONE; }), PF_Err_NONE);
  EXPECT_EQ(calls.load(), 3);
}

TEST_F(HostSuitesTest, CallsFromWorkerThreadsReachTheirOwnHost) {
  Host other{&FakeEffect::Entry};  // a second host alive at the same time
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    const auto* it = Acquire<PF_Iterate8Suite1>(a.in, kPFIterate8Suite, 1);
    const PF_Err e = it->iterate_generic(6, a.in, [](void* refcon, A_long, A_long, A_long) -> PF_Err {
      auto* data = static_cast<PF_InData*>(refcon);
      const auto* hs = Acquire<PF_HandleSuite1>(data, kPFHandleSuite, 2);
      hs->host_dispose_handle(hs->host_new_handle(4));
      Release(data, kPFHandleSuite, 2);
      return PF_Err_NONE;
    });
    Release(a.in, kPFIterate8Suite, 1);
    return e;
  });
  EXPECT_EQ(host.SendCommand(kPlainCmd), PF_Err_NONE);
  EXPECT_EQ(host.CountOf("host_new_handle"), 6u);
  EXPECT_EQ(host.CountOf("host_dispose_handle"), 6u);
  EXPECT_EQ(other.CountOf("host_new_handle"), 0u);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// ---- Fault injection ----------------------------------------------------------------

TEST_F(HostSuitesTest, AFaultHitsOnlyTheChosenOccurrence) {
  std::vector<bool> made;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    made.clear();
    for (int i = 0; i < 4; ++i) {
      PF_Handle h = hs->host_new_handle(4);
      made.push_back(h != nullptr);
      if (h) hs->host_dispose_handle(h);
    }
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  host.InjectFault(Fault{.op = "host_new_handle", .occurrence = 3});
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(made, ElementsAre(true, true, false, true));
  std::vector<bool> faulted;
  for (const auto& c : host.Calls()) {
    if (c.op == "host_new_handle") faulted.push_back(c.faulted);
  }
  EXPECT_THAT(faulted, ElementsAre(false, false, true, false));

  host.SendCommand(kPlainCmd);  // a next-call fault is gone after its call
  EXPECT_THAT(made, ElementsAre(true, true, true, true));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(HostSuitesTest, FaultScopesCountPerCallOrAcrossCalls) {
  std::vector<bool> got;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    for (int i = 0; i < 2; ++i) {
      got.push_back(Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2) != nullptr);
      if (got.back()) Release(a.in, kPFHandleSuite, 2);
    }
    return PF_Err_NONE;
  });
  host.InjectFault(Fault{.op = "AcquireSuite", .occurrence = 2, .scope = FaultScope::kEveryCall});
  host.SendCommand(kPlainCmd);
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(got, ElementsAre(true, false, true, false));

  host.ClearFaults();
  got.clear();
  host.InjectFault(Fault{.op = "AcquireSuite", .occurrence = 3, .scope = FaultScope::kAlways});
  host.SendCommand(kPlainCmd);
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(got, ElementsAre(true, true, false, true));
}

TEST_F(HostSuitesTest, RefusedSuitesAndNullResultsAreFaultsNotViolations) {
  host.RefuseSuite(kPFWorldSuite);
  host.InjectFault(Fault{.op = "AcquireSuite", .detail = kPFHandleSuite, .null_result = true});
  host.InjectFault(Fault{.op = "AcquireSuite", .detail = kPFIterate8Suite, .arg = 1, .error = 99});
  std::vector<SPErr> errors;
  std::vector<bool> tables;
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    for (const auto& [name, version] : std::vector<std::pair<const char*, A_long>>{
             {kPFWorldSuite, 2}, {kPFHandleSuite, 2}, {kPFIterate8Suite, 1}, {kAEGPIterateSuite, 1}}) {
      const void* table = nullptr;
      errors.push_back(a.in->pica_basicP->AcquireSuite(name, version, &table));
      tables.push_back(table != nullptr);
      if (table) Release(a.in, name, version);
    }
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(errors, ElementsAre(kSPSuiteNotFoundError, kSPNoError, 99, kSPNoError));
  EXPECT_THAT(tables, ElementsAre(false, false, false, true));
  EXPECT_THAT(host.Violations(), IsEmpty());
  host.SendCommand(kPlainCmd);  // the refusal stays
  EXPECT_EQ(errors[4], kSPSuiteNotFoundError);
}

}  // namespace
