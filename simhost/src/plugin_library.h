// The one place that knows how the operating system loads a plug-in library
// and where the library keeps its registration resource.
#ifndef SIMHOST_SRC_PLUGIN_LIBRARY_H
#define SIMHOST_SRC_PLUGIN_LIBRARY_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_api/ae_effect.h"

namespace simhost::detail {

class PluginLibrary {
 public:
  // Loads the library; null, with the system's reason in `error`, on failure.
  static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string* error);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // The exported function `name`, or null.
  PF_EntryPointFunc FindEntryPoint(const std::string& name) const;

  // The PiPL bytes: the "PIPL" resource 16000 on Windows, the ".pipl" section
  // of the file elsewhere.
  std::optional<std::vector<std::uint8_t>> ReadPipl(std::string* error) const;

 private:
  PluginLibrary(void* native, std::string path) : native_(native), path_(std::move(path)) {}
  void* native_;
  std::string path_;
};

}  // namespace simhost::detail

#endif
