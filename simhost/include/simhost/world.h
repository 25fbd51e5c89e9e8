// A pixel buffer laid out as the host lays out a world: rows of `rowbytes`
// bytes (padded past the last pixel), fenced by guard bytes before the first
// row, after the last row and in every row's padding, so that a write outside
// the pixels can be seen afterwards.
#ifndef SIMHOST_WORLD_H
#define SIMHOST_WORLD_H

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "host_api/ae_types.h"

namespace simhost {

// Bytes of one pixel in `format`: 4 for "argb"/"bgra", 8 for "ae16", 16 for
// "ae32"/"BGra"; 0 for a format the host does not make.
A_long BytesPerPixel(PF_PixelFormat format);

// Bits per channel as the host reports them in the smart-render records: 8, 16
// or 32 (0 for an unknown format).
A_short BitsPerChannel(PF_PixelFormat format);

class World {
 public:
  static constexpr std::size_t kGuardBytes = 64;           // before the first and after the last row
  static constexpr unsigned char kGuardPattern = 0xA5;     // every guard and padding byte

  // A world of width x height pixels of `format`, every pixel byte 0. Each row
  // is padded by `row_padding_bytes`, which must be a multiple of the pixel size.
  // Throws std::invalid_argument for an unknown format or a bad size.
  World(A_long width, A_long height, PF_PixelFormat format, A_long row_padding_bytes = 0);

  // Copies own their buffer; a moved-from world is empty (0 x 0, no buffer).
  World(const World& other);
  World(World&& other) noexcept;
  World& operator=(const World& other);
  World& operator=(World&& other) noexcept;
  ~World() = default;

  A_long width() const { return width_; }
  A_long height() const { return height_; }
  PF_PixelFormat format() const { return format_; }
  A_long rowbytes() const { return rowbytes_; }
  A_long bytes_per_pixel() const { return bytes_per_pixel_; }
  PF_LRect bounds() const { return PF_LRect{0, 0, width_, height_}; }

  // Row y as pixels. Pixel is PF_Pixel8, PF_Pixel16 or PF_PixelFloat and must
  // match the format's pixel size ("bgra" and "BGra" are viewed through the
  // same structs: the struct's channel names then do not match the bytes).
  // Throws std::out_of_range for a row outside the world and
  // std::invalid_argument for a pixel type of the wrong size.
  template <class Pixel>
  std::span<Pixel> Row(A_long y) {
    CheckRow<Pixel>(y);
    return {reinterpret_cast<Pixel*>(PixelBytes() + static_cast<std::size_t>(y) * rowbytes_),
            static_cast<std::size_t>(width_)};
  }
  template <class Pixel>
  std::span<const Pixel> Row(A_long y) const {
    CheckRow<Pixel>(y);
    return {reinterpret_cast<const Pixel*>(PixelBytes() + static_cast<std::size_t>(y) * rowbytes_),
            static_cast<std::size_t>(width_)};
  }
  template <class Pixel>
  Pixel& At(A_long x, A_long y) {
    return Row<Pixel>(y)[CheckColumn(x)];
  }
  template <class Pixel>
  const Pixel& At(A_long x, A_long y) const {
    return Row<Pixel>(y)[CheckColumn(x)];
  }

  // Sets every pixel byte (not the padding) to `value`.
  void FillPixelBytes(unsigned char value);

  // The part of this world inside `rect` (which must lie within bounds()), as
  // a new world with its own row padding.
  World Crop(const PF_LRect& rect, A_long row_padding_bytes) const;

  // True when both have the same size and format and equal pixel bytes;
  // padding is not compared.
  bool SamePixels(const World& other) const;

  // A record of this world: `data` points at the first pixel, `platform_ref`
  // at this World. The host hands the plug-in a record of its own made from
  // it (the pixels and size, its pattern in the rest).
  PF_EffectWorld* effect_world() { return &world_; }
  const PF_EffectWorld* effect_world() const { return &world_; }

  // Every byte of the buffer: front guard, rows with their padding, back guard.
  const std::vector<unsigned char>& raw_bytes() const { return buffer_; }

  // Descriptions of guard bytes that no longer hold kGuardPattern; empty when
  // every guard is intact.
  std::vector<std::string> GuardDamage() const;

 private:
  template <class Pixel>
  void CheckRow(A_long y) const {
    static_assert(std::is_same_v<Pixel, PF_Pixel8> || std::is_same_v<Pixel, PF_Pixel16> ||
                      std::is_same_v<Pixel, PF_PixelFloat>,
                  "a world holds PF_Pixel8, PF_Pixel16 or PF_PixelFloat");
    if (static_cast<A_long>(sizeof(Pixel)) != bytes_per_pixel_) {
      throw std::invalid_argument("pixel type does not match the world's format");
    }
    if (y < 0 || y >= height_) throw std::out_of_range("row outside the world");
  }
  std::size_t CheckColumn(A_long x) const {
    if (x < 0 || x >= width_) throw std::out_of_range("column outside the world");
    return static_cast<std::size_t>(x);
  }
  unsigned char* PixelBytes() { return buffer_.data() + kGuardBytes; }
  const unsigned char* PixelBytes() const { return buffer_.data() + kGuardBytes; }
  void Relink();

  A_long width_ = 0;
  A_long height_ = 0;
  PF_PixelFormat format_ = PF_PixelFormat_ARGB32;
  A_long bytes_per_pixel_ = 0;
  A_long rowbytes_ = 0;
  std::vector<unsigned char> buffer_;
  PF_EffectWorld world_{};
};

}  // namespace simhost

#endif
