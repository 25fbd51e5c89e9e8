// A minimal stand-in for the host: a basic suite that hands out tables by name
// and version, the handle and utility suites, and the ANSI callbacks. Every
// host call lands in one log, in call order.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host_api/ae_all.h"

namespace qv::testing {

// Only one exists at a time: the C callbacks find it through `current`.
struct FakeHost {
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  void Offer(const std::string& name, A_long version, const void* table) {
    suites[name + " " + std::to_string(version)] = table;
  }
  // The log entries that start with `prefix`, e.g. "release".
  std::vector<std::string> Calls(const std::string& prefix) const;

  // Entries: "acquire <name> <version>", "release <name> <version>",
  // "new <size>", "lock", "unlock", "dispose", "register <name>".
  std::vector<std::string> log;
  std::map<std::string, const void*> suites;  // by "<name> <version>"
  std::set<std::string> refused;              // names AcquireSuite refuses
  bool write_table_on_refusal = false;        // ... while writing a table anyway
  std::set<std::string> null_tables;          // names acquired with a null table

  struct Handle {
    std::vector<unsigned char> bytes;
    void* master = nullptr;  // the PF_Handle is the address of this pointer
    bool disposed = false;
  };
  std::vector<std::unique_ptr<Handle>> handles;
  bool fail_new_handle = false;
  bool fail_lock = false;
  PF_Err register_result = PF_Err_NONE;
  AEGP_PluginID plugin_id = 0x5151;

  std::vector<std::string> formats;  // every sprintf format
  bool message_overflowed = false;   // sprintf would have written past return_msg

  SPBasicSuite basic{};
  PF_HandleSuite1 handle_suite{};
  AEGP_UtilitySuite3 utility_suite{};
  PF_UtilCallbacks utils{};
  PF_InData in_data{};
  PF_OutData out_data{};

  static FakeHost* current;
};

}  // namespace qv::testing
