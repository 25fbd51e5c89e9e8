#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"
#include "shell/pf_error.h"
#include "shell/scoped_suite.h"
#include "shell/suite_cache.h"

namespace qv::testing {
namespace {

using Log = std::vector<std::string>;

PF_Err RaisedCode(auto&& action) {
  try {
    action();
  } catch (const PfError& error) {
    return error.code;
  }
  return PF_Err_NONE;
}

TEST(SuiteCache, AcquiresOnFirstUseOnlyAndReleasesNewestFirst) {
  FakeHost host;
  { SuiteCache unused(&host.basic); }
  EXPECT_TRUE(host.log.empty());

  const int iterate = 0, iterate8 = 0, param_utils = 0;
  host.Offer(kAEGPIterateSuite, 1, &iterate);
  host.Offer(kPFIterate8Suite, 1, &iterate8);
  host.Offer(kPFParamUtilsSuite, 2, &param_utils);
  {
    SuiteCache suites(&host.basic);
    EXPECT_EQ(&suites.HandleSuite(), &host.handle_suite);
    EXPECT_EQ(&suites.HandleSuite(), &host.handle_suite);
    EXPECT_EQ(static_cast<const void*>(&suites.ParamUtilsSuite()), &param_utils);
    EXPECT_EQ(static_cast<const void*>(&suites.Iterate8Suite()), &iterate8);
    EXPECT_EQ(static_cast<const void*>(&suites.IterateSuite()), &iterate);
    EXPECT_EQ(&suites.UtilitySuite(), &host.utility_suite);
  }
  EXPECT_EQ(host.log, (Log{"acquire PF Handle Suite 2", "acquire PF Param Utils Suite 2",
                           "acquire PF Iterate8 Suite 1", "acquire AEGP Iterate Suite 1",
                           "acquire AEGP Utility Suite 7", "release AEGP Utility Suite 7",
                           "release AEGP Iterate Suite 1", "release PF Iterate8 Suite 1",
                           "release PF Param Utils Suite 2", "release PF Handle Suite 2"}));
}

TEST(SuiteCache, RefusedSuiteRaises516AndTheOthersAreStillReleased) {
  FakeHost host;
  host.refused.insert(kAEGPUtilitySuite);
  host.write_table_on_refusal = true;  // a refusal holds nothing, whatever was written
  EXPECT_EQ(RaisedCode([&] {
              SuiteCache suites(&host.basic);
              suites.HandleSuite();
              suites.UtilitySuite();
            }),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.Calls("release"), Log{"release PF Handle Suite 2"});

  host.log.clear();  // a missing version is a refusal too
  EXPECT_EQ(RaisedCode([&] { SuiteCache(&host.basic).Iterate8Suite(); }), 516);
  EXPECT_TRUE(host.Calls("release").empty());
}

TEST(SuiteCache, NullTableRaises516AndHoldsNothing) {
  FakeHost host;
  host.null_tables.insert(kPFHandleSuite);
  EXPECT_EQ(RaisedCode([&] { SuiteCache(&host.basic).HandleSuite(); }), 516);
  EXPECT_TRUE(host.Calls("release").empty());
}

TEST(SuiteCache, NullBasicSuiteRaises516) {
  EXPECT_EQ(RaisedCode([] { SuiteCache suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
}

class ScopedSuiteTest : public ::testing::Test {
 protected:
  ScopedSuiteTest() { host.Offer(kPFWorldSuite, kPFWorldSuiteVersion2, &world); }

  PF_Err Acquire(const char* message) {
    return ScopedSuite::Acquire(&host.in_data, &host.out_data, kPFWorldSuite, 2, message, &table);
  }
  PF_Err Release(const char* message) {
    return ScopedSuite::Release(&host.in_data, &host.out_data, kPFWorldSuite, 2, message);
  }
  bool ShowsMessage() const {
    return (host.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
  }

  FakeHost host;
  const int world = 0;
  const void* table = &host;  // anything but the answer
};

TEST_F(ScopedSuiteTest, SuccessSaysNothing) {
  ASSERT_EQ(Acquire(ScopedSuite::kAcquireMessage), PF_Err_NONE);
  EXPECT_EQ(table, &world);
  EXPECT_EQ(Release(ScopedSuite::kReleaseMessage), PF_Err_NONE);
  EXPECT_EQ(host.log, (Log{"acquire PF World Suite 2", "release PF World Suite 2"}));
  EXPECT_FALSE(ShowsMessage());
  EXPECT_TRUE(host.formats.empty());
}

TEST_F(ScopedSuiteTest, RefusalReportsTheMessageAndHoldsNothing) {
  host.refused.insert(kPFWorldSuite);
  host.write_table_on_refusal = true;
  EXPECT_EQ(Acquire("Couldn't load suite."), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(table, nullptr);
  EXPECT_TRUE(ShowsMessage());
  EXPECT_STREQ(host.out_data.return_msg, "Couldn't load suite.");
  EXPECT_TRUE(host.Calls("release").empty());

  host.refused.clear();  // no table is no suite either
  host.null_tables.insert(kPFWorldSuite);
  EXPECT_EQ(Acquire(nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(host.out_data.return_msg, "Not able to acquire AEFX Suite.");
  EXPECT_TRUE(host.Calls("release").empty());
}

TEST_F(ScopedSuiteTest, WithoutBasicSuiteNullMessagesFallBackToTheDefaults) {
  host.in_data.pica_basicP = nullptr;
  EXPECT_EQ(Acquire(nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(host.out_data.return_msg, "Not able to acquire AEFX Suite.");
  EXPECT_EQ(Release(nullptr), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(host.out_data.return_msg, "Not able to release AEFX Suite.");
  EXPECT_TRUE(ShowsMessage());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(ScopedSuiteTest, MessageIsDataNeverAFormatAndFitsTheBuffer) {
  host.in_data.pica_basicP = nullptr;
  Acquire("50% done %s %n");
  EXPECT_STREQ(host.out_data.return_msg, "50% done %s %n");
  EXPECT_NE(host.formats.at(0), "50% done %s %n");

  const std::string long_message(400, 'x');
  Release(long_message.c_str());
  EXPECT_FALSE(host.message_overflowed);
  EXPECT_EQ(host.out_data.return_msg, long_message.substr(0, PF_MAX_EFFECT_MSG_LEN));
}

}  // namespace
}  // namespace qv::testing
