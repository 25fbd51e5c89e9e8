#pragma once

// Files of several parts (OpenEXR parts, TIFF pages): the part graded is
// chosen, and every other part is carried from the input file into the
// output file as it is, in its place.

#include <OpenImageIO/imageio.h>

#include <cstddef>
#include <string>
#include <vector>

namespace qv::cli {

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

// The place in the file (from 0) of the part `parts.others[i]`.
int PartIndex(const FileParts& parts, std::size_t i);

// The parts of the file at `path`, with the one to grade: `part` (a number
// from 0 or a part's name), or else the first whose channels hold colour
// (the first, when none does: reading it says why). Throws RunError when
// there is no such part.
FileParts FindParts(const std::string& path, const OIIO::ImageSpec* config, const std::string& part);

// Reads every part of the open file but the one graded, as stored, into
// `parts`, and returns to that one. Returns false where the reader fails;
// throws RunError on a deep part, which the tool cannot carry.
bool ReadOtherParts(OIIO::ImageInput& input, const std::string& path, FileParts& parts);

// Refuses, for the file `path` that `output` writes, the carried parts whose
// channels have several sample types, where the format holds only one.
// Throws RunError.
void RefuseMixedTypeParts(const OIIO::ImageOutput& output, const FileParts& parts, const std::string& path);

// Opens `file` at the rendered part among `parts` (none: alone), having
// written the parts before it.
bool OpenAmongParts(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                    const FileParts* parts);

// Writes the parts after the rendered one.
bool WritePartsAfter(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                     const FileParts* parts);

}  // namespace qv::cli
