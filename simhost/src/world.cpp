#include "simhost/world.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace simhost {

A_long BytesPerPixel(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
    case PF_PixelFormat_BGRA32:
      return sizeof(PF_Pixel8);
    case PF_PixelFormat_ARGB64:
      return sizeof(PF_Pixel16);
    case PF_PixelFormat_ARGB128:
    case QV_PixelFormat_BGRA128:
      return sizeof(PF_PixelFloat);
    default:
      return 0;
  }
}

A_short BitsPerChannel(PF_PixelFormat format) {
  return static_cast<A_short>(BytesPerPixel(format) * 8 / 4);
}

World::World(A_long width, A_long height, PF_PixelFormat format, A_long row_padding_bytes)
    : width_(width), height_(height), format_(format), bytes_per_pixel_(BytesPerPixel(format)) {
  if (bytes_per_pixel_ == 0) throw std::invalid_argument("unknown pixel format");
  if (width < 0 || height < 0) throw std::invalid_argument("negative world size");
  if (row_padding_bytes < 0 || row_padding_bytes % bytes_per_pixel_ != 0) {
    throw std::invalid_argument("row padding must be a non-negative multiple of the pixel size");
  }
  const std::int64_t rowbytes = std::int64_t{width} * bytes_per_pixel_ + row_padding_bytes;
  if (rowbytes > std::numeric_limits<A_long>::max()) throw std::invalid_argument("world too wide");
  rowbytes_ = static_cast<A_long>(rowbytes);
  buffer_.assign(2 * kGuardBytes + static_cast<std::size_t>(rowbytes_) * static_cast<std::size_t>(height_),
                 kGuardPattern);
  FillPixelBytes(0);
  Relink();
}

World::World(const World& other)
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      bytes_per_pixel_(other.bytes_per_pixel_),
      rowbytes_(other.rowbytes_),
      buffer_(other.buffer_) {
  Relink();
}

World::World(World&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      bytes_per_pixel_(other.bytes_per_pixel_),
      rowbytes_(other.rowbytes_),
      buffer_(std::move(other.buffer_)) {
  Relink();
  other.width_ = other.height_ = other.rowbytes_ = 0;
  other.buffer_.clear();
  other.Relink();
}

World& World::operator=(const World& other) {
  if (this != &other) *this = World(other);
  return *this;
}

World& World::operator=(World&& other) noexcept {
  if (this != &other) {
    width_ = other.width_;
    height_ = other.height_;
    format_ = other.format_;
    bytes_per_pixel_ = other.bytes_per_pixel_;
    rowbytes_ = other.rowbytes_;
    buffer_ = std::move(other.buffer_);
    Relink();
    other.width_ = other.height_ = other.rowbytes_ = 0;
    other.buffer_.clear();
    other.Relink();
  }
  return *this;
}

void World::Relink() {
  world_ = PF_EffectWorld{};
  // Empty once moved from.
  world_.data = buffer_.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(buffer_.data() + kGuardBytes);
  world_.rowbytes = rowbytes_;
  world_.width = width_;
  world_.height = height_;
  world_.extent_hint = bounds();
  world_.platform_ref = this;
}

void World::FillPixelBytes(unsigned char value) {
  const auto row_bytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(bytes_per_pixel_);
  for (A_long y = 0; y < height_; ++y) {
    std::memset(PixelBytes() + static_cast<std::size_t>(y) * rowbytes_, value, row_bytes);
  }
}

World World::Crop(const PF_LRect& rect, A_long row_padding_bytes) const {
  if (rect.left < 0 || rect.top < 0 || rect.right > width_ || rect.bottom > height_ ||
      rect.left > rect.right || rect.top > rect.bottom) {
    throw std::out_of_range("crop rectangle outside the world");
  }
  World out(rect.right - rect.left, rect.bottom - rect.top, format_, row_padding_bytes);
  const auto row_bytes = static_cast<std::size_t>(out.width_) * static_cast<std::size_t>(bytes_per_pixel_);
  for (A_long y = 0; y < out.height_; ++y) {
    const unsigned char* from = PixelBytes() + static_cast<std::size_t>(rect.top + y) * rowbytes_ +
                                static_cast<std::size_t>(rect.left) * bytes_per_pixel_;
    std::memcpy(out.PixelBytes() + static_cast<std::size_t>(y) * out.rowbytes_, from, row_bytes);
  }
  return out;
}

bool World::SamePixels(const World& other) const {
  if (width_ != other.width_ || height_ != other.height_ || format_ != other.format_) return false;
  const auto row_bytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(bytes_per_pixel_);
  for (A_long y = 0; y < height_; ++y) {
    if (std::memcmp(PixelBytes() + static_cast<std::size_t>(y) * rowbytes_,
                    other.PixelBytes() + static_cast<std::size_t>(y) * other.rowbytes_, row_bytes) != 0) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> World::GuardDamage() const {
  auto changed = [&](std::size_t from, std::size_t count) {
    return std::count_if(buffer_.begin() + static_cast<std::ptrdiff_t>(from),
                         buffer_.begin() + static_cast<std::ptrdiff_t>(from + count),
                         [](unsigned char b) { return b != kGuardPattern; });
  };
  std::vector<std::string> damage;
  if (buffer_.empty()) return damage;
  if (const auto n = changed(0, kGuardBytes)) {
    damage.push_back(std::to_string(n) + " guard bytes before the first row changed");
  }
  const auto pixel_bytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(bytes_per_pixel_);
  const auto padding = static_cast<std::size_t>(rowbytes_) - pixel_bytes;
  long long padding_bytes = 0;
  A_long padding_rows = 0;
  A_long first_row = -1;
  for (A_long y = 0; y < height_ && padding > 0; ++y) {
    if (const auto n = changed(kGuardBytes + static_cast<std::size_t>(y) * rowbytes_ + pixel_bytes, padding)) {
      padding_bytes += n;
      ++padding_rows;
      if (first_row < 0) first_row = y;
    }
  }
  if (padding_rows > 0) {
    damage.push_back(std::to_string(padding_bytes) + " padding bytes changed in " + std::to_string(padding_rows) +
                     " rows (first row " + std::to_string(first_row) + ")");
  }
  if (const auto n = changed(buffer_.size() - kGuardBytes, kGuardBytes)) {
    damage.push_back(std::to_string(n) + " guard bytes after the last row changed");
  }
  return damage;
}

}  // namespace simhost
