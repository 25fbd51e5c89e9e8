#pragma once

// Frame numbers in file names and on the command line.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::cli {

// "N" or "FIRST-LAST", whole numbers (negative ones too: "-10--1"), FIRST <= LAST.
struct FrameRange {
  std::int32_t first = 0;
  std::int32_t last = 0;

  std::int64_t Count() const { return std::int64_t{last} - first + 1; }
  friend bool operator==(const FrameRange&, const FrameRange&) = default;
};

// Throws UsageError naming --frames and the forms it takes.
FrameRange ParseFrameRange(std::string_view text);

// Frames to render: runs of consecutive frames, in increasing order, apart.
using FrameRuns = std::vector<FrameRange>;

// The runs of `frames` (any order, repeats allowed).
FrameRuns RunsOf(std::vector<std::int32_t> frames);
std::int64_t CountOf(const FrameRuns& runs);
// "1-10, 12, 14-48".
std::string Describe(const FrameRuns& runs);

// `runs` cut into pieces of at most `size` frames (size >= 1), each a range
// of consecutive frames, in order: the work of one job of a cluster each.
std::vector<FrameRange> Chunks(const FrameRuns& runs, std::int64_t size);

// Frames per piece when `count` frames are spread evenly over `cpus`: at least 1.
std::int64_t EvenChunk(std::int64_t count, std::int64_t cpus);

// A path whose file name may stand for a sequence of files, one per frame,
// with one of the ways pipelines write the frame number:
//   ####   a run of '#', zero-padded to the run's length; a lone '#' is
//          padded to 4, as oiiotool reads it
//   @@@@   one digit per '@'
//   %04d   printf: %d unpadded, %0Nd (or %Nd) padded to N
//   $F4    Houdini: $F unpadded, $FN padded to N
// A number longer than the padding is written whole; a negative one has a
// minus sign before its padded digits (-0012). Only the last of these
// in the file name counts; one in a directory name is taken literally.
class FramePattern {
 public:
  explicit FramePattern(std::string path);
  // `path` as it is, its '#', '@', '%' and '$' included: the same file for every frame.
  static FramePattern File(std::string path);

  bool HasFrame() const { return token_length_ > 0; }
  const std::string& text() const { return text_; }
  // The path of `frame`; the path as given when it has no frame number.
  std::string At(std::int32_t frame) const;
  // The frame whose file name `file_name` is, if it is one.
  std::optional<std::int32_t> FrameOf(std::string_view file_name) const;
  // The frames whose files exist, in increasing order.
  std::vector<std::int32_t> FramesOnDisk() const;
  // The file name alone, with `word` for the frame number's stand-in: a
  // name for files that belong to the whole sequence.
  std::string NameWith(std::string_view word) const;

 private:
  std::string text_;
  std::size_t name_start_ = 0;    // where the file name begins
  std::size_t token_start_ = 0;   // the frame number's stand-in
  std::size_t token_length_ = 0;  // 0: none
  std::size_t padding_ = 0;       // digits at least
};

}  // namespace qv::cli
