#pragma once

// Image files written as the effect's results: straight colour in, the
// file's own alpha convention out, the source's metadata, extra channels and
// other parts carried, and every file whole or not at all.

#include <OpenImageIO/imageio.h>

#include <memory>
#include <optional>
#include <string>

#include "alpha_convention.h"
#include "core/raster.h"
#include "file_parts.h"
#include "image_bands.h"
#include "output_format.h"

namespace qv::cli {

// Fails early, before anything is rendered, when `path` cannot be written:
// its directory is missing or read-only, it names a directory, something
// that is not a regular file (a device, a pipe), or a file the caller may
// not write, or no format writer knows its extension. Throws RunError.
void CheckWritable(const std::string& path);

// Whether the format `path` names can store an alpha channel.
bool FormatHoldsAlpha(const std::string& path);

// Whether the format `path` names can store several parts (OpenEXR, TIFF).
bool FormatHoldsParts(const std::string& path);

struct WriteSettings {
  FileType type;                                 // sample type in the file (the writer may widen it)
  std::optional<AlphaConvention> alpha;          // default: WrittenConvention of the format and `source_alpha`
  std::optional<AlphaConvention> source_alpha;   // the source file's convention
  const OIIO::ImageSpec* like = nullptr;         // a source whose data window and metadata carry over
  std::string like_format;                       // the source's format: its encoding choices carry over to the same
  std::string like_file;                         // the source's path, where its encoding is read when not reported
  bool all_metadata = true;                      // false: only what describes the picture (orientation, ...)
  const LightMask* light = nullptr;              // the source's light without coverage, same size
  const ExtraChannels* extra = nullptr;          // channels to write after the colour and alpha, same size
  std::string colour_space;                      // the space the colour is in; empty: as the source says
  std::string layer;                             // prefix of the colour's and alpha's names ("beauty.")
  const FileParts* parts = nullptr;              // the source's other parts, written around this one
};

// Writes `raster` (straight colour) to `path` in the format its extension
// names, as the part `settings.parts` grades among its others where given.
// Under the associated convention colour is multiplied by alpha first, except
// the pixels `settings.light` marks: their colour is written as it is.
// Extra channels follow the colour and alpha, in their own sample types; a
// format that cannot hold them so is refused: one without any number of
// channels, one without a sample type per channel where theirs differ from
// the colour's, one that records no names where the source recorded theirs.
// The pixels go to a partial file in the same directory; every write is
// checked (where the writer takes the checked proxy), the file is synced and
// read back (whole where it does not), and only then renamed over
// `path` (keeping the permission bits of a file it replaces) and its
// directory synced, so `path` is either untouched or whole. Throws RunError naming the cause (a full disk, a
// read-only target); no partial file stays behind.
void WriteImage(const std::string& path, Raster raster, const WriteSettings& settings);

class PartialFile;

// An image written, synced and confirmed in its partial file, waiting to be
// moved over its target: frames finished out of order are put in place in
// order. Dropped without Commit(), the partial file is removed.
class StagedImage {
 public:
  StagedImage(StagedImage&&) noexcept;
  StagedImage& operator=(StagedImage&&) noexcept;
  ~StagedImage();
  // Renames the file over its target. Throws RunError.
  void Commit();

 private:
  friend StagedImage StageImage(const std::string&, Raster, const WriteSettings&);
  explicit StagedImage(std::unique_ptr<PartialFile> partial);
  std::unique_ptr<PartialFile> partial_;
};

// WriteImage but the rename: the same checks, the same errors.
StagedImage StageImage(const std::string& path, Raster raster, const WriteSettings& settings);

}  // namespace qv::cli
