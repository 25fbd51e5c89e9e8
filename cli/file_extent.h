#pragma once

// Whether a file holds all the bytes its header says it does. Some readers
// (OpenImageIO's for 10- and 12-bit DPX) decode a file cut short without a
// word, filling the missing rows from whatever their buffers held.

#include <string>

namespace qv::cli {

// Throws RunError ("cannot read PATH: the file is cut short: ...") when the
// file at `path`, of `format` (as OpenImageIO names it), holds fewer bytes
// than its header declares: for DPX, its total size and the end of its first
// image element, whichever is larger. Other formats' readers fail on a file
// cut short by themselves.
void CheckFileWhole(const std::string& path, const std::string& format);

}  // namespace qv::cli
