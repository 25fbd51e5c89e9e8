#pragma once

// What an output file holds beyond its pixels, as its format can hold it:
// the sample type asked for or kept from the input.

#include <OpenImageIO/imageio.h>

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

// The sample type of a file's colour channels, as its description gives it.
FileType FileTypeOf(const OIIO::ImageSpec& image_spec);

// Says in `image_spec`, the description of a file to write, how many bits
// of its samples hold the value, where `type` packs fewer than all; a format
// that cannot pack them stores them whole.
void DescribeFileType(const FileType& type, OIIO::ImageSpec& image_spec);

// Refuses, before anything is rendered, a sample type the format `path`
// names cannot store as it is (half in PNG, uint16 in JPEG or OpenEXR), with
// the types it can. The writer is asked, by a small picture written in a
// directory of its own and read back. Throws UsageError.
void CheckFileType(const std::string& path, FileType type);

}  // namespace qv::cli
