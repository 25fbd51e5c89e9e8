#include "progress.h"

#include <unistd.h>

#include <algorithm>

namespace qv::cli {
namespace {

constexpr int kBarWidth = 30;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

std::string Summary(std::int64_t frames, std::int64_t pixels, double seconds) {
  std::string text = std::to_string(frames) + (frames == 1 ? " frame, " : " frames, ");
  text += pixels < 1000000 ? std::to_string(pixels) + " pixels, "
                           : Fixed(static_cast<double>(pixels) / 1e6, 2) + " Mpixels, ";
  text += Fixed(seconds, 2) + " s, ";
  text += (seconds > 0 ? Fixed(static_cast<double>(frames) / seconds, 1) : std::string("-")) + " frames/s";
  return text;
}

Progress::Progress(std::int64_t total_frames, bool silent, std::FILE* stream)
    : total_(total_frames),
      silent_(silent),
      terminal_(isatty(fileno(stream)) != 0),
      stream_(stream),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (!finished_ && !silent_ && terminal_ && done_ > 0) std::fprintf(stream_, "\n");
}

double Progress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::FrameDone(const std::string& output_path, std::int64_t pixels) {
  ++done_;
  pixels_ += pixels;
  if (silent_ || total_ < 2) return;  // one frame needs no progress report: the summary says it
  const std::string count = std::to_string(done_) + "/" + std::to_string(total_);
  if (!terminal_) {
    std::fprintf(stream_, "%s %s\n", count.c_str(), output_path.c_str());
    std::fflush(stream_);
    return;
  }
  const int filled = total_ > 0 ? static_cast<int>(done_ * kBarWidth / total_) : kBarWidth;
  const double seconds = Seconds();
  const std::string rate = seconds > 0 ? Fixed(static_cast<double>(done_) / seconds, 1) : std::string("-");
  std::fprintf(stream_, "\r\033[K[%s%s] %s %s fps  %s", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(), count.c_str(), rate.c_str(),
               output_path.c_str());
  std::fflush(stream_);
}

void Progress::Finish() {
  finished_ = true;
  if (silent_) return;
  if (terminal_ && done_ > 0) std::fprintf(stream_, "\r\033[K");
  std::fflush(stream_);
  std::printf("%s\n", Summary(done_, pixels_, Seconds()).c_str());
  std::fflush(stdout);
}

}  // namespace qv::cli
