#pragma once

// What an output file holds beyond its pixels, as its format can hold it:
// the sample type asked for or kept from the input, the input's encoding
// carried into a file of the same format, and the orientation where the
// format keeps it. The writers are asked, by small pictures written and read
// back.

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>
#include <vector>

namespace qv::cli {

// A sample type as a file stores it: the type, and how many of its bits
// hold the value where a format packs fewer (a 10-bit DPX file holds its
// samples as uint16 values of 10 bits).
struct FileType {
  OIIO::TypeDesc type = OIIO::TypeDesc::UINT8;
  int bits = 0;  // 0: every bit of the type
};

// The sample types an output may be asked for (`--type`), by name, from the
// least precise to the most.
struct NamedFileType {
  const char* name;
  FileType type;
};
const std::vector<NamedFileType>& FileTypes();

// The sample type of a file's colour channels, `colour_type`, with the bits
// its description says those samples hold.
FileType FileTypeOf(const OIIO::ImageSpec& image_spec, OIIO::TypeDesc colour_type);

// Says in `image_spec`, the description of a file to write, how many bits
// of its samples hold the value, where `type` packs fewer than all; a format
// that cannot pack them stores them whole.
void DescribeFileType(const FileType& type, OIIO::ImageSpec& image_spec);

// Refuses, before anything is rendered, a sample type the format `path`
// names cannot store as it is (half in PNG, uint16 in JPEG or OpenEXR), with
// the types it can. The writer is asked, by a small picture written in a
// directory of its own and read back. Throws UsageError.
void CheckFileType(const std::string& path, FileType type);

// Whether the format `path` names stores samples of `type` as they are,
// asked of its writer as CheckFileType asks it.
bool FormatHoldsType(const std::string& path, FileType type);

// Carries the encoding of the source file `from` (read from `from_path`)
// into `to`, the description of a file of the same format that `writer`
// writes: its tiles, and what the source's reader does not report but its
// bytes say (a WebP file's lossless coding; a JPEG file's quality, estimated
// from its luminance quantisation table). Compression the reader reports is
// carried with the rest of the metadata.
void CarryEncoding(const OIIO::ImageSpec& from, const std::string& from_path, const OIIO::ImageOutput& writer,
                   OIIO::ImageSpec& to);

// The orientation `image_spec` gives its picture (an Exif code, 2 to 8),
// where the format `path` names cannot keep it so that a reader shows the
// picture turned as it should be: a small picture written with it does not
// read back with it at the size it was written (the DPX reader swaps the
// sides of a file it takes for turned). Each format and code is asked once
// a run. Nothing where the picture is upright or the format keeps it.
std::optional<int> UnheldOrientation(const OIIO::ImageSpec& image_spec, const std::string& path);

}  // namespace qv::cli
