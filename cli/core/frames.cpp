#include "frames.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string>
#include <system_error>

#include "errors.h"

namespace qv::cli {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole number, negative ones with a leading '-'.
bool ParseFrame(std::string_view text, std::int32_t* frame) {
  const std::size_t sign = !text.empty() && text.front() == '-' ? 1 : 0;
  if (text.size() <= sign || !IsDigit(text[sign])) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *frame);
  return ec == std::errc() && end == text.data() + text.size();
}

// The digits of `text` from `at` on, as a padding; `*end` just past them.
std::size_t DigitsAt(const std::string& text, std::size_t at, std::size_t* end) {
  std::size_t value = 0;
  for (*end = at; *end < text.size() && IsDigit(text[*end]) && value < 100; ++*end) {
    value = value * 10 + static_cast<std::size_t>(text[*end] - '0');
  }
  return value;
}

// A frame number's stand-in found in a file name.
struct Token {
  std::size_t start = 0;
  std::size_t length = 0;
  std::size_t padding = 0;
};

// The stand-in that starts at `at`, if one does.
std::optional<Token> TokenAt(const std::string& text, std::size_t at) {
  const char c = text[at];
  if (c == '#' || c == '@') {
    std::size_t end = at;
    while (end < text.size() && text[end] == c) ++end;
    const std::size_t run = end - at;
    return Token{at, run, c == '#' && run == 1 ? 4 : run};
  }
  if (c == '%') {
    std::size_t end = at + 1;
    const std::size_t padding = DigitsAt(text, end, &end);
    if (end < text.size() && text[end] == 'd') return Token{at, end + 1 - at, padding};
  }
  if (c == '$' && at + 1 < text.size() && text[at + 1] == 'F') {
    std::size_t end = at + 2;
    const std::size_t padding = DigitsAt(text, end, &end);
    return Token{at, end - at, padding};
  }
  return std::nullopt;
}

}  // namespace

FrameRange ParseFrameRange(std::string_view text) {
  const auto fail = [&]() {
    std::string message = "--frames " + Quoted(text);
    message += ": give one frame (\"12\") or a range FIRST-LAST (\"1-240\", \"-10-5\") of whole numbers";
    return UsageError(message);
  };
  FrameRange range;
  const std::size_t dash = text.find('-', 1);  // past a minus sign of FIRST
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

FrameRuns RunsOf(std::vector<std::int32_t> frames) {
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  FrameRuns runs;
  for (const std::int32_t frame : frames) {
    if (!runs.empty() && std::int64_t{runs.back().last} + 1 == frame) {
      runs.back().last = frame;
    } else {
      runs.push_back({frame, frame});
    }
  }
  return runs;
}

std::int64_t CountOf(const FrameRuns& runs) {
  std::int64_t count = 0;
  for (const FrameRange& run : runs) count += run.Count();
  return count;
}

std::string Describe(const FrameRuns& runs) {
  std::string text;
  for (const FrameRange& run : runs) {
    if (!text.empty()) text += ", ";
    text += std::to_string(run.first);
    if (run.last != run.first) {
      text += '-';
      text += std::to_string(run.last);
    }
  }
  return text;
}

std::vector<FrameRange> Chunks(const FrameRuns& runs, std::int64_t size) {
  std::vector<FrameRange> chunks;
  for (const FrameRange& run : runs) {
    for (std::int64_t first = run.first; first <= run.last; first += size) {
      chunks.push_back({static_cast<std::int32_t>(first),
                        static_cast<std::int32_t>(std::min<std::int64_t>(first + size - 1, run.last))});
    }
  }
  return chunks;
}

std::int64_t EvenChunk(std::int64_t count, std::int64_t cpus) {
  return std::max<std::int64_t>(1, (count + std::max<std::int64_t>(cpus, 1) - 1) / std::max<std::int64_t>(cpus, 1));
}

FramePattern::FramePattern(std::string path) : text_(std::move(path)) {
  const std::size_t slash = text_.find_last_of('/');
  name_start_ = slash == std::string::npos ? 0 : slash + 1;
  for (std::size_t at = name_start_; at < text_.size();) {
    const std::optional<Token> token = TokenAt(text_, at);
    if (!token) {
      ++at;
      continue;
    }
    token_start_ = token->start;
    token_length_ = token->length;
    padding_ = token->padding;
    at += token->length;
  }
}

FramePattern FramePattern::File(std::string path) {
  FramePattern file(std::move(path));
  file.token_start_ = 0;
  file.token_length_ = 0;
  file.padding_ = 0;
  return file;
}

std::string FramePattern::At(std::int32_t frame) const {
  if (!HasFrame()) return text_;
  std::string digits = std::to_string(frame < 0 ? -std::int64_t{frame} : std::int64_t{frame});
  if (digits.size() < padding_) digits.insert(0, padding_ - digits.size(), '0');
  std::string path = text_.substr(0, token_start_);
  if (frame < 0) path += '-';
  path += digits;
  path += text_.substr(token_start_ + token_length_);
  return path;
}

std::optional<std::int32_t> FramePattern::FrameOf(std::string_view file_name) const {
  if (!HasFrame()) return std::nullopt;
  const std::string_view prefix = std::string_view(text_).substr(name_start_, token_start_ - name_start_);
  const std::string_view suffix = std::string_view(text_).substr(token_start_ + token_length_);
  if (file_name.size() <= prefix.size() + suffix.size() || file_name.substr(0, prefix.size()) != prefix ||
      file_name.substr(file_name.size() - suffix.size()) != suffix) {
    return std::nullopt;
  }
  const std::string_view number = file_name.substr(prefix.size(), file_name.size() - prefix.size() - suffix.size());
  // A minus sign, then the digits padded exactly, or longer than the padding
  // without a leading zero: the one way At() writes each frame.
  const std::string_view digits = number.substr(number.front() == '-' ? 1 : 0);
  if (digits.size() < std::max<std::size_t>(padding_, 1) ||
      (digits.size() > std::max<std::size_t>(padding_, 1) && digits.front() == '0')) {
    return std::nullopt;
  }
  std::int32_t frame = 0;
  if (!std::all_of(digits.begin(), digits.end(), IsDigit) || !ParseFrame(number, &frame)) return std::nullopt;
  if (frame == 0 && digits.size() < number.size()) return std::nullopt;  // "-0000": frame 0 has no sign
  return frame;
}

std::string FramePattern::NameWith(std::string_view word) const {
  if (!HasFrame()) return text_.substr(name_start_);
  std::string name = text_.substr(name_start_, token_start_ - name_start_);
  name.append(word);
  name += text_.substr(token_start_ + token_length_);
  return name;
}

std::vector<std::int32_t> FramePattern::FramesOnDisk() const {
  namespace fs = std::filesystem;
  std::vector<std::int32_t> frames;
  if (!HasFrame()) return frames;
  const fs::path directory = name_start_ == 0 ? fs::path(".") : fs::path(text_.substr(0, name_start_));
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    if (!entry.is_regular_file(error)) continue;
    if (const auto frame = FrameOf(entry.path().filename().string())) frames.push_back(*frame);
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

}  // namespace qv::cli
