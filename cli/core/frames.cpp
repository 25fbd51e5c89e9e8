#include "frames.h"

#include <charconv>
#include <string>

#include "errors.h"

namespace qv::cli {
namespace {

bool ParseFrame(std::string_view text, std::int32_t* frame) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *frame);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

FrameRange ParseFrameRange(std::string_view text) {
  const auto fail = [&]() {
    std::string message = "--frames \"";
    message.append(text);
    message += "\": give one frame (\"12\") or a range FIRST-LAST (\"1-240\") of whole numbers from 0";
    return UsageError(message);
  };
  FrameRange range;
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    if (!ParseFrame(text, &range.first)) throw fail();
    range.last = range.first;
    return range;
  }
  if (!ParseFrame(text.substr(0, dash), &range.first) || !ParseFrame(text.substr(dash + 1), &range.last) ||
      range.last < range.first) {
    throw fail();
  }
  return range;
}

FramePattern::FramePattern(std::string path) : text_(std::move(path)) {
  const std::size_t slash = text_.find_last_of('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t last = text_.find_last_of('#');
  if (last == std::string::npos || last < name_start) return;
  std::size_t first = last;
  while (first > name_start && text_[first - 1] == '#') --first;
  run_start_ = first;
  width_ = last - first + 1;
}

std::string FramePattern::At(std::int32_t frame) const {
  if (!HasFrame()) return text_;
  std::string digits = std::to_string(frame < 0 ? -std::int64_t{frame} : std::int64_t{frame});
  if (digits.size() < width_) digits.insert(0, width_ - digits.size(), '0');
  std::string path = text_.substr(0, run_start_);
  if (frame < 0) path += '-';
  path += digits;
  path += text_.substr(run_start_ + width_);
  return path;
}

}  // namespace qv::cli
