#pragma once

// Running the tool as a user does, on files made for the test, and the
// pixels the engine gives for the same input.

#include <OpenImageIO/imageio.h>

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "core/raster.h"
#include "test_images.h"
#include "engine/tone_params.h"

// Built with a sanitizer, whose own memory hides what the tool takes.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QV_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_SANITIZED 1
#endif

namespace qv::cli::test {

struct ToolRun {
  int status = -1;  // -1 when a signal ended it
  int signal = 0;    // the signal that ended it
  std::string out;  // standard output
  std::string err;  // standard error
  long peak_kib = 0;  // the tool's peak resident size
};

// What the tool's process runs under beyond what the test does.
struct ProcessSetup {
  // A file-size limit, as `ulimit -f` sets it; SIGXFSZ keeps its default
  // disposition, as it has in a shell.
  std::optional<rlim_t> max_file_bytes;
  // Another user and group to run as (the test must run as root). That user
  // runs a copy of the tool and its plug-in in a directory anyone may enter,
  // whoever may enter the build's; the directory the tool runs in must be
  // one it can enter.
  std::optional<std::pair<uid_t, gid_t>> user;
  // Signals ignored when the tool starts, as nohup ignores SIGHUP; any other
  // has its default disposition, whatever the test's own.
  std::vector<int> ignored_signals;
  // Limits on the address space and on the stack (the default size of a
  // thread's stack), as `ulimit -v` and `ulimit -s` set them.
  std::optional<rlim_t> max_address_space;
  std::optional<rlim_t> max_stack;
  // A command the tool is started through, its words before the tool's:
  // `unshare --pid --fork --kill-child` runs it as the first process of a
  // namespace of its own, as in a container; `strace -o FILE` traces it.
  // The process waited for (and given to `while_running`) is then the
  // command's.
  std::vector<std::string> run_through;
  // The CPUs the tool may run on, as `taskset -c` sets them; empty: the test's own.
  std::vector<int> cpus;
  // Called with the tool's process id while it runs, before it is waited for.
  std::function<void(pid_t)> while_running;
};

// Runs the built tool with `args` in `directory`, with `environment`
// ("NAME=value" each) added and QUORVANDILE_PLUGIN unset unless given there.
ToolRun RunTool(const std::filesystem::path& directory, const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {}, const ProcessSetup& setup = {});

// The memory, in KiB, the tool figures a render of `input` with `args` needs
// at its worst moment: what it says refusing it under a limit of one byte.
double FrameMemoryKib(const std::filesystem::path& directory, const std::string& input,
                      const std::vector<std::string>& args = {});

// The bytes of the file at `path`; empty when it cannot be read.
std::string Contents(const std::filesystem::path& path);

// Lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The names of the files in it, sorted.
  std::vector<std::string> Files() const;

 private:
  std::filesystem::path path_;
};

// Writes `image` as stored (no premultiplication on the way) in `type`.
template <class T>
void WriteFile(const std::filesystem::path& path, const Image<T>& image, OIIO::TypeDesc type);

// Reads a file as stored, converted to T's sample type; `image_spec` gets the file's description.
template <class T>
Image<T> ReadFile(const std::filesystem::path& path, OIIO::ImageSpec* image_spec = nullptr);

// The effect's parameters at their registered defaults, as the plug-in turns them into ToneParams.
ToneParams DefaultToneParams();
// A colour parameter as the plug-in turns it into a ramp colour.
PixelFloat Colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// What the engine makes of `input` (straight colour, any of the four
// layouts, file sample ranges) with `params`, as RGBA in file sample ranges:
// the same conversions to the host's pixels and back that a render takes.
template <class T>
Image<T> EngineRender(const Image<T>& input, const ToneParams& params);

// Associated <-> straight colour for float RGBA, as an EXR file holds it.
Image<float> Premultiplied(const Image<float>& straight);
Image<float> Unpremultiplied(const Image<float>& associated);

}  // namespace qv::cli::test
