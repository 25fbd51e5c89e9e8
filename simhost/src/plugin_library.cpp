#include "plugin_library.h"

#include "simhost/pipl.h"

#ifdef _WIN32
// MinGW's C++ library already asks <windows.h> not to define min and max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>

#include "simhost/elf_section.h"
#endif

namespace simhost::detail {

#ifdef _WIN32

namespace {
HMODULE Module(void* native) { return static_cast<HMODULE>(native); }
std::string LastError() { return "Windows error " + std::to_string(GetLastError()); }
}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    if (error) *error = LastError();
    return nullptr;
  }
  return std::unique_ptr<PluginLibrary>(new PluginLibrary(module, path));
}

PluginLibrary::~PluginLibrary() { FreeLibrary(Module(native_)); }

PF_EntryPointFunc PluginLibrary::FindEntryPoint(const std::string& name) const {
  const FARPROC proc = GetProcAddress(Module(native_), name.c_str());
  // Through a generic function pointer: the export's real type is the entry point's.
  return reinterpret_cast<PF_EntryPointFunc>(reinterpret_cast<void (*)()>(proc));
}

std::optional<std::vector<std::uint8_t>> PluginLibrary::ReadPipl(std::string* error) const {
  // The host asks for the resource in US English.
  HRSRC found = FindResourceExA(Module(native_), kPiplResourceType, MAKEINTRESOURCEA(kPiplResourceId),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  HGLOBAL loaded = found ? LoadResource(Module(native_), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) {
    if (error) *error = "no PIPL resource " + std::to_string(kPiplResourceId) + " (" + LastError() + ")";
    return std::nullopt;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(Module(native_), found));
}

#else

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    if (error) *error = why ? why : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<PluginLibrary>(new PluginLibrary(handle, path));
}

PluginLibrary::~PluginLibrary() { dlclose(native_); }

PF_EntryPointFunc PluginLibrary::FindEntryPoint(const std::string& name) const {
  return reinterpret_cast<PF_EntryPointFunc>(dlsym(native_, name.c_str()));
}

std::optional<std::vector<std::uint8_t>> PluginLibrary::ReadPipl(std::string* error) const {
  return ReadElfSection(path_, kPiplSectionName, error);
}

#endif

}  // namespace simhost::detail
