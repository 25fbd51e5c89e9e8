#pragma once

// The plug-in as the tool drives it: loaded by the simulated host, set up
// once, then asked for frames. Every pixel the tool writes comes from the
// plug-in's EntryPointFunc through the host's smart-render protocol.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "param_catalog.h"
#include "param_parse.h"
#include "simhost/host.h"

namespace qv::cli {

struct SessionOptions {
  std::string plugin_path;
  int threads = 1;     // the host's thread count
  bool strict = true;  // the host's checks of the plug-in's conduct; a finding stops the run
};

class PluginSession {
 public:
  // Loads the plug-in and sends global setup and parameter setup. Throws
  // RunError when the library cannot be loaded or a command fails (with the
  // plug-in's own message when it left one).
  explicit PluginSession(const SessionOptions& options);
  // Sends global setdown if Close() was not called; reports nothing.
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  const std::string& plugin_path() const { return path_; }
  const ParamCatalog& params() const { return catalog_; }
  const simhost::PiplInfo& pipl() const;
  // The About box's text, lines separated by '\n'.
  std::string About();

  // Every control back to its registered default.
  void ResetParams();
  // A constant value, or keyframes at their frames' times.
  void Apply(const ParamSetting& setting);

  // Renders `frame` (at its own time) with `input` as the layer. The output
  // has the input's size and pixel format. Throws RunError when the plug-in
  // fails or, in strict mode, misuses the host.
  simhost::World Render(std::int32_t frame, simhost::World input);

  // Sends global setdown. Throws RunError when it fails or, in strict mode,
  // when the host found misuse (such as a handle never given back).
  void Close();

 private:
  // Throws RunError naming the plug-in's first new violation (each names
  // the command it happened in), if any.
  void CheckConduct();
  [[noreturn]] void Fail(const std::string& command, PF_Err err);

  std::string path_;
  std::unique_ptr<simhost::Host> host_;
  ParamCatalog catalog_;
  std::size_t violations_seen_ = 0;
  bool open_ = false;
};

// "4 (out of memory)", "516 (bad callback parameter)", or the number alone.
std::string DescribeError(PF_Err err);

}  // namespace qv::cli
