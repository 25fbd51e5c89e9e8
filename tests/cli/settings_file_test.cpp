// Settings files read in-process: what the parser refuses, and how it says so.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "core/errors.h"
#include "core/plugin_session.h"
#include "settings_file.h"

namespace qv::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class SettingsFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = std::make_unique<PluginSession>(SessionOptions{QV_PLUGIN_FILE, 1, true}); }
  static void TearDownTestSuite() {
    session_.reset();
    std::remove(Path().c_str());
  }

  // The UsageError that a settings file holding `text` raises ("" if it loads).
  static std::string ErrorOf(const std::string& text) {
    std::ofstream(Path(), std::ios::binary | std::ios::trunc) << text;
    try {
      LoadSettings(Path(), session_->params());
      return "";
    } catch (const UsageError& e) {
      return e.what();
    }
  }
  // One file a process: CTest runs each test in a process of its own, side by side.
  static std::string Path() {
    return ::testing::TempDir() + "settings_file_test." + std::to_string(getpid()) + ".json";
  }

  static std::unique_ptr<PluginSession> session_;
};

std::unique_ptr<PluginSession> SettingsFile::session_;

// The JSON library refuses a number beyond a double as out of range rather
// than as a parse error: that too is the file's fault, with its line.
TEST_F(SettingsFile, NumberBeyondADoubleIsAUsageErrorAtItsLine) {
  const std::string message =
      ErrorOf("{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": 1e400\n  }\n}\n");
  EXPECT_THAT(message, StartsWith(Path() + ":4: "));
  EXPECT_THAT(message, HasSubstr("1e400"));
}

TEST_F(SettingsFile, KeyWithControlCharactersIsQuotedOnOneLine) {
  const std::string message = ErrorOf("{\"quorvandile-settings\": 1, \"a\\nb\\u0000\": 2}");
  EXPECT_THAT(message, HasSubstr("\"a\\nb\\x00\": not a settings key"));
  EXPECT_EQ(message.find_first_of("\n\r"), std::string::npos) << message;
}

}  // namespace
}  // namespace qv::cli
