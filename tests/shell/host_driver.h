// Driving the plug-in through its entry point with the simulated host: the
// pieces the shell and render tests share.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "shell/entry_point.h"
#include "shell/pipl.h"
#include "simhost/host.h"

namespace qv::testing {

// The registration resource as the host reads it.
inline std::span<const std::uint8_t> PiplSpan() {
  const std::span<const unsigned char> bytes = PiplBytes();
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// A host driving the entry point linked into the test, with its resource.
inline simhost::Host LinkedHost(simhost::HostOptions options = {}) {
  return simhost::Host(&EntryPointFunc, PiplSpan(), std::move(options));
}

// One log entry as "op detail arg", e.g. "host_new_handle h1 4".
inline std::string Describe(const simhost::CallRecord& call) {
  std::string text = call.op;
  text += ' ';
  text += call.detail;
  text += ' ';
  text += std::to_string(call.arg);
  return text;
}

// The host calls made during plug-in call `call` (an index in Commands()),
// without the entry record itself.
inline std::vector<simhost::CallRecord> CallsIn(const simhost::Host& host, int call) {
  std::vector<simhost::CallRecord> out;
  for (const simhost::CallRecord& record : host.Calls()) {
    if (record.call == call && record.op != "EntryPointFunc" &&
        record.op != "delete_pre_render_data_func") {
      out.push_back(record);
    }
  }
  return out;
}

inline int LastCall(const simhost::Host& host) { return static_cast<int>(host.Commands().size()) - 1; }

// The index in Commands() of the last plug-in call named `name` ("SMART_RENDER").
inline int LastCallNamed(const simhost::Host& host, const std::string& name) {
  const std::vector<simhost::CommandRecord> commands = host.Commands();
  for (int i = static_cast<int>(commands.size()) - 1; i >= 0; --i) {
    if (commands[static_cast<std::size_t>(i)].name == name) return i;
  }
  return -1;
}

inline std::vector<std::string> Ops(const std::vector<simhost::CallRecord>& calls) {
  std::vector<std::string> ops;
  for (const simhost::CallRecord& call : calls) ops.push_back(call.op);
  return ops;
}

inline std::vector<std::string> Trace(const std::vector<simhost::CallRecord>& calls) {
  std::vector<std::string> out;
  for (const simhost::CallRecord& call : calls) out.push_back(Describe(call));
  return out;
}

inline int CountOp(const std::vector<simhost::CallRecord>& calls, const std::string& op) {
  int n = 0;
  for (const simhost::CallRecord& call : calls) n += call.op == op;
  return n;
}

}  // namespace qv::testing
