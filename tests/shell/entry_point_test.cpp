#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "fake_host.h"
#include "shell/entry_point.h"

namespace qv::testing {
namespace {

using Log = std::vector<std::string>;

class EntryPointTest : public ::testing::Test {
 protected:
  PF_Err Run(PF_Cmd cmd) {
    return EntryPointFunc(cmd, &host.in_data, &host.out_data, nullptr, nullptr, nullptr);
  }

  FakeHost host;
};

TEST_F(EntryPointTest, CommandsOutsideTheTableTouchNothing) {
  std::memset(&host.out_data, 0x5A, sizeof host.out_data);
  const PF_OutData before = host.out_data;
  for (PF_Cmd cmd : std::vector<PF_Cmd>{PF_Cmd_FRAME_SETUP, PF_Cmd_FRAME_SETDOWN, PF_Cmd_SEQUENCE_SETUP,
                                        PF_Cmd_USER_CHANGED_PARAM, PF_Cmd_NUM_CMDS, -1}) {
    EXPECT_EQ(Run(cmd), PF_Err_NONE) << cmd;
  }
  EXPECT_EQ(std::memcmp(&host.out_data, &before, sizeof before), 0);
  EXPECT_TRUE(host.log.empty());
  EXPECT_TRUE(host.formats.empty());
}

// The plain render fails with a message for the host to show; with a record
// missing it fails the same way and writes nothing, and without the host's
// sprintf the flag still says that the render failed on purpose.
TEST_F(EntryPointTest, PlainRenderFailsWithAMessage) {
  std::memset(&host.out_data, 0x5A, sizeof host.out_data);
  const PF_OutData before = host.out_data;
  EXPECT_EQ(EntryPointFunc(PF_Cmd_RENDER, nullptr, &host.out_data, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(std::memcmp(&host.out_data, &before, sizeof before), 0);
  EXPECT_EQ(EntryPointFunc(PF_Cmd_RENDER, &host.in_data, nullptr, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host.formats.empty());

  host.out_data.out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
  EXPECT_EQ(Run(PF_Cmd_RENDER), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.out_data.out_flags, PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
  EXPECT_NE(std::string(host.out_data.return_msg).find("smart render"), std::string::npos);
  // The text is data, not a format.
  EXPECT_EQ(host.formats, (Log{"%.*s"}));
  EXPECT_FALSE(host.message_overflowed);
  EXPECT_TRUE(host.log.empty()) << "no suite is taken";

  host.utils.ansi.sprintf = nullptr;
  host.out_data = PF_OutData{};
  EXPECT_EQ(Run(PF_Cmd_RENDER), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.out_data.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
  EXPECT_STREQ(host.out_data.return_msg, "");
}

// Setup keeps the handle only once it holds the identifier; otherwise it must
// not survive the command.
TEST_F(EntryPointTest, GlobalSetupDisposesOfAHandleItDoesNotKeep) {
  host.register_result = PF_Err_INVALID_CALLBACK;
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_INVALID_CALLBACK);
  EXPECT_EQ(host.Calls("dispose").size(), 1u);
  EXPECT_TRUE(host.handles.at(0)->disposed);
  EXPECT_EQ(host.out_data.global_data, nullptr);

  FakeHost no_lock;
  no_lock.fail_lock = true;
  EXPECT_EQ(EntryPointFunc(PF_Cmd_GLOBAL_SETUP, &no_lock.in_data, &no_lock.out_data, nullptr,
                           nullptr, nullptr),
            PF_Err_NONE);
  EXPECT_EQ(no_lock.log, (Log{"acquire PF Handle Suite 2", "new 4", "lock", "unlock", "dispose",
                              "release PF Handle Suite 2"}));
  EXPECT_EQ(no_lock.out_data.global_data, nullptr);
}

TEST_F(EntryPointTest, GlobalSetupFailures) {
  host.fail_new_handle = true;
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host.out_data.global_data, nullptr);

  // A suite missing deep inside the handler comes back as 516, and the handle
  // made before it is neither kept nor left locked.
  host.fail_new_handle = false;
  host.refused.insert(kAEGPUtilitySuite);
  host.log.clear();
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.log, (Log{"acquire PF Handle Suite 2", "new 4", "lock",
                           "acquire AEGP Utility Suite 7", "unlock", "dispose",
                           "release PF Handle Suite 2"}));
  EXPECT_EQ(host.out_data.global_data, nullptr);

  host.in_data.pica_basicP = nullptr;
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(EntryPointTest, GlobalSetdownWithoutGlobalDataAsksNothing) {
  host.in_data.pica_basicP = nullptr;  // not even a basic suite is needed
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETDOWN), PF_Err_NONE);
  EXPECT_TRUE(host.log.empty());
}

TEST_F(EntryPointTest, NoExceptionLeavesTheEntryPoint) {
  host.handle_suite.host_new_handle = [](A_HandleSize) -> PF_Handle { throw std::bad_alloc(); };
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_OUT_OF_MEMORY);
  host.handle_suite.host_new_handle = [](A_HandleSize) -> PF_Handle { throw 42; };
  EXPECT_EQ(Run(PF_Cmd_GLOBAL_SETUP), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host.Calls("release"), (Log{"release PF Handle Suite 2", "release PF Handle Suite 2"}));
}

}  // namespace
}  // namespace qv::testing
