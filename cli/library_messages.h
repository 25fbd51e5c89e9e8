#pragma once

// The image libraries print some of their errors and warnings straight to
// standard error (libpng's "IDAT: Read error", libtiff's warnings), behind
// the tool's back. While a file is read or written, standard error goes to a
// buffer instead, so that what they say ends up in the tool's own one line,
// or nowhere.

#include <string>

namespace qv::cli {

class LibraryMessages {
 public:
  // Starts capturing. Where standard error cannot be redirected, nothing is
  // captured and the messages go where they always went.
  LibraryMessages();
  // Stops capturing, dropping what was printed, if Stop() was not called.
  ~LibraryMessages();
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;

  // Stops capturing and returns what was printed meanwhile.
  std::string Stop();

 private:
  int saved_ = -1;    // the real standard error
  int capture_ = -1;  // the buffer
};

}  // namespace qv::cli
