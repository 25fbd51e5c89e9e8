#pragma once

// Image files through OpenImageIO. The effect works on straight (unassociated)
// colour, so that is what these functions hand over and take back, whatever
// the file holds.

#include <OpenImageIO/imageio.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/frame_limits.h"
#include "core/raster.h"
#include "output_format.h"

namespace qv::cli {

enum class AlphaConvention { kStraight, kAssociated };

// How files of a format hold colour under alpha: associated (premultiplied)
// for OpenEXR, whose convention it is, straight for every other format.
AlphaConvention DefaultConvention(const std::string& format_name);

// How a file holds colour under alpha, as its reader describes it
// (`image_spec`, read with oiio:UnassociatedAlpha asked for) and its format's
// rules: straight where the reader says so, associated where a reader that
// would say so does not (a TIFF with ExtraSamples 1), else DefaultConvention.
AlphaConvention StoredConvention(const OIIO::ImageSpec& image_spec, const std::string& format_name);

// The convention a file of a format is written in: the source's where the
// format records either (TIFF), else the format's own.
AlphaConvention WrittenConvention(const std::string& format_name, std::optional<AlphaConvention> source);

// The sample type of a file's colour: of its first colour channel, as
// FindChannels (channel_roles.h) finds them, which other channels may not share.
OIIO::TypeDesc ColourType(const OIIO::ImageSpec& image_spec, const std::string& format_name);

// The depth a file renders at: 8-bit samples at 8 bits, 16-bit at 16, every
// other type (half, float, 32-bit integers) as float.
Depth FileDepth(OIIO::TypeDesc type);

// Channels beyond the colour and alpha the effect renders (depth, object
// ids, other layers of an OpenEXR file), carried from the input file to the
// output file as they are.
struct ExtraChannels {
  std::vector<std::string> names;
  std::vector<OIIO::TypeDesc> formats;  // per channel, as the file stores it
  std::vector<unsigned char> samples;   // pixel by pixel, each channel in its format

  bool empty() const { return names.empty(); }
};

// A part of a file (an OpenEXR part, a TIFF page) carried as it is.
struct StoredPart {
  OIIO::ImageSpec image_spec;
  std::vector<unsigned char> samples;  // every channel, each in its own sample type
};

// Which of a file's parts is graded, and the others.
struct FileParts {
  int graded = 0;                  // counted from 0
  int count = 1;                   // the file's parts
  bool chosen = false;             // named by --part rather than found
  std::vector<StoredPart> others;  // every other part, in the file's order
};

// A part's name: an OpenEXR part's own, else "part N" (from 0).
std::string PartName(const OIIO::ImageSpec& image_spec, int index);

struct InputImage {
  Raster raster;           // straight colour
  OIIO::ImageSpec image_spec;    // the file's own description: sample type, channels, metadata
  std::string format;            // its format's name, as OpenImageIO names it ("png", "openexr")
  AlphaConvention alpha;   // the convention the file was read with: its own (StoredConvention) or --alpha
  LightMask light;         // associated colour under alpha 0, kept as it is
  ExtraChannels extra;     // the channels other than the colour and alpha
  std::string layer;       // the prefix of the colour's and alpha's names ("beauty."), kept on output
  FileParts parts;         // the part graded, and the others
};

// Reads the first image of `path` at `depth` (default: FileDepth of its
// colour) whose colour and alpha FindChannels finds by name (grey, grey and
// alpha, RGB, RGBA, of one layer): every other channel comes in `extra`. Colour comes as
// stored, never premultiplied on the way; under the associated convention it
// is divided by alpha where alpha is above 0, and pixels of colour under
// alpha 0 are marked in `light`. `alpha` overrides the file's own
// convention. The size the header declares is checked against `limits`
// before any pixel buffer is made, and then handed to `before_pixels`, if
// any (which may wait for the memory it needs). Throws RunError, one line:
// the file cannot be opened or read, its layout is not one of the four, or it
// is too large.
//
// Of a file of several parts (OpenEXR parts, TIFF pages) the part graded is
// `part` (a number from 0 or an OpenEXR part's name) or else the first whose
// channels hold colour; the others come in `parts`, as they are. Throws
// RunError when there is no such part, or another part is deep.
InputImage ReadImage(const std::string& path, std::optional<Depth> depth,
                     std::optional<AlphaConvention> alpha, const FrameLimits& limits, const std::string& part = {},
                     const std::function<void(const FrameShape&)>& before_pixels = {});

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

// The size a file's header declares, at the depth it would render at
// (`depth`, or the file's own); nothing when the header cannot be read.
std::optional<FrameShape> DeclaredShape(const std::string& path, std::optional<Depth> depth);

}  // namespace qv::cli
