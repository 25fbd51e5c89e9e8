#pragma once

// Frame numbers in file names and on the command line.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::cli {

// "N" or "FIRST-LAST", whole numbers from 0, FIRST <= LAST.
struct FrameRange {
  std::int32_t first = 0;
  std::int32_t last = 0;

  std::int64_t Count() const { return std::int64_t{last} - first + 1; }
  friend bool operator==(const FrameRange&, const FrameRange&) = default;
};

// Throws UsageError naming --frames and the forms it takes.
FrameRange ParseFrameRange(std::string_view text);

// A path whose file name may hold a run of '#' that stands for the frame
// number, zero-padded to the run's length ("shot.####.exr" -> "shot.0012.exr";
// a number longer than the run is written whole). Only the last run in the
// file name counts; '#' in directory names is taken literally.
class FramePattern {
 public:
  explicit FramePattern(std::string path);

  bool HasFrame() const { return width_ > 0; }
  const std::string& text() const { return text_; }
  // The path of `frame`; the path as given when it has no run of '#'.
  std::string At(std::int32_t frame) const;

 private:
  std::string text_;
  std::size_t run_start_ = 0;
  std::size_t width_ = 0;
};

}  // namespace qv::cli
