#include "cli_support.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/shell_words.h"
#include "image_description.h"
#include "core/sixteen_bit.h"
#include "engine/tone_mapper.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;

template <class T>
OIIO::TypeDesc TypeOf() {
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    return OIIO::TypeDesc::UINT8;
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    return OIIO::TypeDesc::UINT16;
  } else {
    return OIIO::TypeDesc::FLOAT;
  }
}

// Per sample type: the engine's depth and pixel, and the file <-> host conversions.
template <class T>
struct HostSide;
template <>
struct HostSide<std::uint8_t> {
  using Pixel = Pixel8;
  static constexpr PixelDepth kDepth = kDepth8;
  static std::uint8_t In(std::uint8_t v) { return v; }
  static std::uint8_t Out(std::uint8_t v) { return v; }
};
template <>
struct HostSide<std::uint16_t> {
  using Pixel = Pixel16;
  static constexpr PixelDepth kDepth = kDepth16;
  static std::uint16_t In(std::uint16_t v) { return FileToHost16(v); }
  static std::uint16_t Out(std::uint16_t v) { return HostToFile16(v); }
};
template <>
struct HostSide<float> {
  using Pixel = PixelFloat;
  static constexpr PixelDepth kDepth = kDepthFloat;
  static float In(float v) { return v; }
  static float Out(float v) { return v; }
};

// The tool and its plug-in as another user runs them: copies in a directory
// of this process's own that anyone may enter and read, the plug-in beside
// the tool where the tool looks first. The build's own files may lie below a
// directory that only its owner can enter (a clone in /root), and a test run
// as another user checks the tool, not where the build was made.
class ToolForOthers {
 public:
  ToolForOthers() : owner_(getpid()) {
    std::string pattern = (fs::temp_directory_path() / "cli_tests_tool_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a directory for the tool");
    folder_ = pattern;
    const fs::perms everyone = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(folder_, everyone);
    for (const fs::path& built : {fs::path(QV_CLI_TOOL), fs::path(QV_PLUGIN_FILE)}) {
      const fs::path copy = folder_ / built.filename();
      fs::copy_file(built, copy);
      fs::permissions(copy, everyone);
    }
    tool_ = folder_ / fs::path(QV_CLI_TOOL).filename();
  }
  ~ToolForOthers() {
    if (getpid() != owner_) return;  // a forked child's exit leaves it to the test
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  ToolForOthers(const ToolForOthers&) = delete;
  ToolForOthers& operator=(const ToolForOthers&) = delete;
  const fs::path& tool() const { return tool_; }

 private:
  pid_t owner_;
  fs::path folder_;
  fs::path tool_;
};

// Made on the first run as another user, removed when the test program exits.
const fs::path& ToolForOtherUsers() {
  static const ToolForOthers copies;
  return copies.tool();
}

// A file for the child's output, opened here and inherited open, so that a
// user the child runs as needs no way to reach it; removed once read.
class Capture {
 public:
  explicit Capture(fs::path path)
      : path_(std::move(path)), fd_(open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
    if (fd_ < 0) throw std::runtime_error("cannot make " + path_.string());
  }
  ~Capture() {
    close(fd_);
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  int fd() const { return fd_; }
  std::string Text() const { return Contents(path_); }

 private:
  fs::path path_;
  int fd_;
};

}  // namespace

ToolRun RunTool(const fs::path& directory, const std::vector<std::string>& args,
                const std::vector<std::string>& environment, const ProcessSetup& setup) {
  static int counter = 0;
  std::string stem = "cli_tests_";
  stem += std::to_string(getpid());
  stem += '_';
  stem += std::to_string(counter++);
  // Appended piece by piece: GCC 12 mistakes `"literal" + std::string` for an
  // overlapping copy at -O2.
  std::string command = "cd ";
  command += ShellQuoted(directory.string());
  // exec, so that the process waited for is the tool itself and its
  // resource use is the tool's.
  command += " && exec env -u QUORVANDILE_PLUGIN";
  const auto word = [&command](const std::string& text) {
    command += ' ';
    command += ShellQuoted(text);
  };
  for (const std::string& variable : environment) word(variable);
  for (const std::string& through : setup.run_through) word(through);
  word(setup.user ? ToolForOtherUsers().string() : std::string(QV_CLI_TOOL));
  for (const std::string& arg : args) word(arg);
  command += " < /dev/null";
  const Capture out(fs::temp_directory_path() / (stem + ".out"));
  const Capture err(fs::temp_directory_path() / (stem + ".err"));
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  for (const int cpu : setup.cpus) CPU_SET(cpu, &cpus);
  ToolRun run;
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("cannot start the tool");
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (dup2(out.fd(), STDOUT_FILENO) < 0 || dup2(err.fd(), STDERR_FILENO) < 0) _exit(126);
    for (const int disposition : {SIGHUP, SIGINT, SIGTERM, SIGXFSZ}) signal(disposition, SIG_DFL);
    for (const int ignored : setup.ignored_signals) signal(ignored, SIG_IGN);
    const auto limit = [](int resource, const std::optional<rlim_t>& value) {
      if (!value) return true;
      const rlimit both{*value, *value};
      return setrlimit(resource, &both) == 0;
    };
    if (!limit(RLIMIT_FSIZE, setup.max_file_bytes) || !limit(RLIMIT_AS, setup.max_address_space) ||
        !limit(RLIMIT_STACK, setup.max_stack)) {
      _exit(126);
    }
    if (!setup.cpus.empty() && sched_setaffinity(0, sizeof cpus, &cpus) != 0) _exit(126);
    if (setup.user &&
        (setgroups(0, nullptr) != 0 || setgid(setup.user->second) != 0 || setuid(setup.user->first) != 0)) {
      _exit(126);
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (setup.while_running) setup.while_running(child);
  int raw = 0;
  rusage usage{};
  while (wait4(child, &raw, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("cannot wait for the tool");
  }
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
  run.peak_kib = usage.ru_maxrss;
  run.out = out.Text();
  run.err = err.Text();
  return run;
}

double FrameMemoryKib(const fs::path& directory, const std::string& input, const std::vector<std::string>& args) {
  std::vector<std::string> command = {"render", input, "-o", "refused.png", "--max-memory", "1"};
  command.insert(command.end(), args.begin(), args.end());
  const ToolRun run = RunTool(directory, command);
  // "... needs 57.2 MiB of memory, more than ..."
  std::istringstream said(run.err.substr(std::min(run.err.size(), run.err.find(" needs ") + 7)));
  double amount = 0;
  std::string unit;
  said >> amount >> unit;
  const std::vector<std::string> units = {"KiB", "MiB", "GiB"};
  const auto scale = std::find(units.begin(), units.end(), unit);
  if (run.status != 1 || !said || scale == units.end()) throw std::runtime_error("no memory figure in: " + run.err);
  for (auto u = units.begin(); u != scale; ++u) amount *= 1024;
  return amount;
}

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "cli_tests_XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

template <class T>
void WriteFile(const fs::path& path, const Image<T>& image, OIIO::TypeDesc type) {
  auto output = OIIO::ImageOutput::create(path.string());
  if (!output) throw std::runtime_error("no writer for " + path.string());
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, type);
  if (HasAlpha(image.channels)) image_spec.alpha_channel = image.channels - 1;
  if (image.channels == 2) image_spec.channelnames = {"Y", "A"};
  image_spec.attribute("oiio:UnassociatedAlpha", 1);
  if (!output->open(path.string(), image_spec) || !output->write_image(TypeOf<T>(), image.samples.data()) ||
      !output->close()) {
    throw std::runtime_error("cannot write " + path.string() + ": " + output->geterror());
  }
}

template <class T>
Image<T> ReadFile(const fs::path& path, OIIO::ImageSpec* image_spec) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto input = OIIO::ImageInput::open(path.string(), &config);
  if (!input) throw std::runtime_error("cannot read " + path.string() + ": " + OIIO::geterror());
  const OIIO::ImageSpec& file = DescriptionOf(*input);
  Image<T> image(file.width, file.height, file.nchannels);
  if (!input->read_image(0, 0, 0, file.nchannels, TypeOf<T>(), image.samples.data())) {
    throw std::runtime_error("cannot read " + path.string() + ": " + input->geterror());
  }
  if (image_spec) *image_spec = file;
  return image;
}

PixelFloat Colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return FromPixel8(Pixel8{255, red, green, blue});
}

ToneParams DefaultToneParams() {
  ToneParams p{};
  p.baseOn = kBaseLightness;
  p.tones = kTritone;
  p.highlights = Colour(255, 255, 255);
  p.brights = Colour(192, 170, 120);
  p.midtones = Colour(128, 100, 70);
  p.darktones = Colour(64, 50, 10);
  p.shadows = Colour(0, 0, 0);
  p.inputBlack = 0;
  p.inputWhite = 1;
  p.gamma = 1;
  p.outputBlack = 0;
  p.outputWhite = 1;
  p.highlightsOpacity = 1;
  p.shadowsOpacity = 0;
  p.blend = 0;
  return p;
}

template <class T>
Image<T> EngineRender(const Image<T>& input, const ToneParams& params) {
  using Side = HostSide<T>;
  using Pixel = typename Side::Pixel;
  const std::size_t count = static_cast<std::size_t>(input.width) * static_cast<std::size_t>(input.height);
  std::vector<Pixel> source(count), result(count);
  for (std::size_t i = 0; i < count; ++i) {
    const T* s = input.samples.data() + i * static_cast<std::size_t>(input.channels);
    const bool colour = HasColour(input.channels);
    Pixel& p = source[i];
    p.red = Side::In(s[0]);
    p.green = Side::In(colour ? s[1] : s[0]);
    p.blue = Side::In(colour ? s[2] : s[0]);
    p.alpha = Side::In(HasAlpha(input.channels) ? s[input.channels - 1] : Image<T>::kMax);
  }
  const ToneMapper mapper(ToneMapperSettings{Side::kDepth, params});
  const ImageView in{Side::kDepth, source.data(), input.width, input.height, input.width};
  const ImageView out{Side::kDepth, result.data(), input.width, input.height, input.width};
  mapper.Process(in, out, in.Bounds());
  Image<T> rgba(input.width, input.height, 4);
  for (std::size_t i = 0; i < count; ++i) {
    T* d = rgba.samples.data() + i * 4;
    d[0] = Side::Out(result[i].red);
    d[1] = Side::Out(result[i].green);
    d[2] = Side::Out(result[i].blue);
    d[3] = Side::Out(result[i].alpha);
  }
  return rgba;
}

Image<float> Premultiplied(const Image<float>& straight) {
  Image<float> out = straight;
  for (std::size_t i = 0; i < out.samples.size(); i += 4) {
    for (std::size_t c = 0; c < 3; ++c) out.samples[i + c] *= out.samples[i + 3];
  }
  return out;
}

Image<float> Unpremultiplied(const Image<float>& associated) {
  Image<float> out = associated;
  for (std::size_t i = 0; i < out.samples.size(); i += 4) {
    if (out.samples[i + 3] > 0) {
      for (std::size_t c = 0; c < 3; ++c) out.samples[i + c] /= out.samples[i + 3];
    }
  }
  return out;
}

template void WriteFile(const fs::path&, const Image<std::uint8_t>&, OIIO::TypeDesc);
template void WriteFile(const fs::path&, const Image<std::uint16_t>&, OIIO::TypeDesc);
template void WriteFile(const fs::path&, const Image<float>&, OIIO::TypeDesc);
template Image<std::uint8_t> ReadFile(const fs::path&, OIIO::ImageSpec*);
template Image<std::uint16_t> ReadFile(const fs::path&, OIIO::ImageSpec*);
template Image<float> ReadFile(const fs::path&, OIIO::ImageSpec*);
template Image<std::uint8_t> EngineRender(const Image<std::uint8_t>&, const ToneParams&);
template Image<std::uint16_t> EngineRender(const Image<std::uint16_t>&, const ToneParams&);
template Image<float> EngineRender(const Image<float>&, const ToneParams&);

}  // namespace qv::cli::test
