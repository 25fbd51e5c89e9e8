#include "fake_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace qv::testing {

FakeHost* FakeHost::current = nullptr;

namespace {

FakeHost& Host() { return *FakeHost::current; }

SPErr AcquireSuite(const char* name, A_long version, const void** suite) {
  FakeHost& host = Host();
  const std::string key = std::string(name) + " " + std::to_string(version);
  host.log.push_back("acquire " + key);
  static const int kGarbage = 0;
  if (host.refused.count(name) != 0) {
    if (host.write_table_on_refusal) *suite = &kGarbage;
    return kSPSuiteNotFoundError;
  }
  if (host.null_tables.count(name) != 0) {
    *suite = nullptr;
    return kSPNoError;
  }
  const auto found = host.suites.find(key);
  if (found == host.suites.end()) return kSPSuiteNotFoundError;
  *suite = found->second;
  return kSPNoError;
}

SPErr ReleaseSuite(const char* name, A_long version) {
  Host().log.push_back("release " + std::string(name) + " " + std::to_string(version));
  return kSPNoError;
}

FakeHost::Handle* Find(PF_Handle handle) {
  for (const auto& record : Host().handles) {
    if (&record->master == handle) return record.get();
  }
  return nullptr;
}

PF_Handle NewHandle(A_HandleSize size) {
  FakeHost& host = Host();
  host.log.push_back("new " + std::to_string(size));
  if (host.fail_new_handle) return nullptr;
  auto record = std::make_unique<FakeHost::Handle>();
  record->bytes.assign(static_cast<std::size_t>(size), 0xCD);
  record->master = record->bytes.data();
  host.handles.push_back(std::move(record));
  return &host.handles.back()->master;
}

void* LockHandle(PF_Handle handle) {
  Host().log.push_back("lock");
  FakeHost::Handle* record = Find(handle);
  return record != nullptr && !Host().fail_lock ? record->master : nullptr;
}

void UnlockHandle(PF_Handle) { Host().log.push_back("unlock"); }

void DisposeHandle(PF_Handle handle) {
  Host().log.push_back("dispose");
  if (FakeHost::Handle* record = Find(handle)) record->disposed = true;
}

A_Err RegisterWithAEGP(AEGP_GlobalRefcon refcon, const A_char* name, AEGP_PluginID* id) {
  FakeHost& host = Host();
  host.log.push_back("register " + std::string(name));
  if (refcon != nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  if (host.register_result == PF_Err_NONE) *id = host.plugin_id;
  return host.register_result;
}

// Formats like the standard sprintf into return_msg, but notes instead of
// committing an overflow of it.
int Sprintf(A_char* buffer, const A_char* format, ...) {
  FakeHost& host = Host();
  host.formats.push_back(format);
  char text[4096];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length > PF_MAX_EFFECT_MSG_LEN) {
    host.message_overflowed = true;
    text[PF_MAX_EFFECT_MSG_LEN] = '\0';
  }
  std::strcpy(buffer, text);
  return length;
}

A_char* Strcpy(A_char* dest, const A_char* src) { return std::strcpy(dest, src); }

}  // namespace

FakeHost::FakeHost() {
  current = this;
  basic.AcquireSuite = AcquireSuite;
  basic.ReleaseSuite = ReleaseSuite;
  handle_suite.host_new_handle = NewHandle;
  handle_suite.host_lock_handle = LockHandle;
  handle_suite.host_unlock_handle = UnlockHandle;
  handle_suite.host_dispose_handle = DisposeHandle;
  utility_suite.AEGP_RegisterWithAEGP = RegisterWithAEGP;
  utils.ansi.sprintf = Sprintf;
  utils.ansi.strcpy = Strcpy;
  in_data.utils = &utils;
  in_data.pica_basicP = &basic;
  Offer(kPFHandleSuite, kPFHandleSuiteVersion1, &handle_suite);
  Offer(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3, &utility_suite);
}

FakeHost::~FakeHost() { current = nullptr; }

std::vector<std::string> FakeHost::Calls(const std::string& prefix) const {
  std::vector<std::string> calls;
  for (const std::string& entry : log) {
    if (entry.rfind(prefix, 0) == 0) calls.push_back(entry);
  }
  return calls;
}

}  // namespace qv::testing
