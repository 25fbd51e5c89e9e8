#pragma once

// What a run tells the user while it goes and when it ends: for a sequence, a
// progress bar on a terminal or one plain line per frame otherwise; and a
// closing summary.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qv::cli {

class Progress {
 public:
  // Reports on `stream` (a bar when it is a terminal); a silent one reports nothing.
  Progress(std::int64_t total_frames, bool silent, std::FILE* stream = stderr);
  // Ends the bar's line when the run stopped before Finish(), so that an
  // error message starts on a line of its own.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void FrameDone(const std::string& output_path, std::int64_t pixels);
  // Clears the bar and prints the summary (frames, pixels, time, frames per
  // second) on standard output.
  void Finish();

 private:
  double Seconds() const;

  std::int64_t total_;
  std::int64_t done_ = 0;
  std::int64_t pixels_ = 0;
  bool silent_;
  bool finished_ = false;
  bool terminal_;
  std::FILE* stream_;
  std::chrono::steady_clock::time_point start_;
};

// "3 frames, 250000 pixels, 0.12 s, 25.0 frames/s"; millions as "12.44 Mpixels".
std::string Summary(std::int64_t frames, std::int64_t pixels, double seconds);

}  // namespace qv::cli
