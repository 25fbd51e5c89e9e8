#pragma once

// The image libraries print some of their errors and warnings straight to
// standard error (libpng's "IDAT: Read error", libtiff's warnings), behind
// the tool's back and from any thread. For the whole run, standard error is a
// buffer that collects them, and the tool's own messages go to the real one
// (UserErrors()): what the libraries say ends up in the tool's one line about
// a failure, or nowhere.

#include <cstdio>
#include <string>

namespace qv::cli {

// Starts collecting; once per process, before any thread starts. Where
// standard error cannot be redirected, nothing is collected and the messages
// go where they always went.
void CollectLibraryMessages();

// Where the tool's own messages go: the real standard error.
std::FILE* UserErrors();

// A window on what the libraries print: from its construction to Stop().
// Frames read and written at once share the buffer, so a window may also hold
// what another frame's library printed meanwhile; it words a failure that the
// library's own result already decided, and decides none.
class LibraryMessages {
 public:
  LibraryMessages();
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;

  // What was printed since construction.
  std::string Stop();

 private:
  long start_;
};

}  // namespace qv::cli
