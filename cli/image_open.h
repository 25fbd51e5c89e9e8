#pragma once

// Every image file the tool opens, for reading or writing, is opened here.
//
// OpenImageIO 2.4.7 (Debian 12's) decodes a file's embedded ICC profile into
// attributes through static tables that it writes while it reads them, so
// two threads decoding headers at once can corrupt the heap or leave a
// thread spinning for ever. The readers decode a part's header when the file
// is opened and when they move to another part, so those two steps take one
// process-wide lock; reading and writing pixels, the bulk of the work, stays
// parallel across files. Which library calls the tool makes from several
// threads, and how each is kept safe, is tabled in the README (frames in
// flight).

#include <OpenImageIO/imageio.h>

#include <memory>
#include <string>

namespace qv::cli {

// The threads the image library decodes and encodes with, at most a few of
// them in its OpenEXR pool. Left to itself, it takes one per processor the
// machine has, whatever share of them this process may use, and every
// OpenEXR file open keeps buffers for each thread (CodecPixels).
void UseImageThreads(int threads);

// The reader of the file at `path`, its first part's header decoded, or
// null with the library's error pending (OIIO::geterror()). `config` as
// ImageInput::open takes it.
std::unique_ptr<OIIO::ImageInput> OpenImageFile(const std::string& path, const OIIO::ImageSpec* config = nullptr);

// Moves an open reader to part `part` (a subimage), decoding its header.
// False where the file has no such part.
bool SeekPart(OIIO::ImageInput& input, int part);

// A writer for files named like `path` (by its extension), not yet open; or
// null with the library's error pending.
std::unique_ptr<OIIO::ImageOutput> CreateImageWriter(const std::string& path);

}  // namespace qv::cli
