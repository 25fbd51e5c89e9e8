#pragma once

// The image libraries print some of their errors and warnings to standard
// error (libpng's "IDAT: Read error"), behind the tool's back. While a thread
// reads or writes a file it opens a window (LibraryMessages): what that
// thread's libraries print through the C and C++ standard error streams then
// goes to the window, which keeps the first kHeldMessageBytes of it to word
// the frame's failure, and nowhere else. Everything else reaches the real
// standard error as it always did: what is printed outside a window (by the
// plug-in, for one), and what is written to its descriptor directly (the C
// library's and the sanitizers' reports of a fatal error). A fatal end
// (std::terminate, abort) also lets through what its thread's window held.

#include <cstddef>
#include <cstdio>
#include <string>

namespace qv::cli {

// How much a window keeps of what is printed in it; the rest is dropped.
inline constexpr std::size_t kHeldMessageBytes = 4096;

// Starts routing; once per process, before any thread starts. Where the
// stream cannot be replaced, nothing is held and messages go where they
// always went.
void CollectLibraryMessages();

// Where the tool's own messages go: the real standard error.
std::FILE* UserErrors();

// What went wrong in a reader or writer, in one line: the first of its own
// `error`, else of what its library `printed`, else `otherwise`.
std::string Cause(const std::string& error, const std::string& printed, const char* otherwise);

// What the libraries print on this thread, from construction to Stop() (and
// on to the next Stop(), until destruction). Windows nest: the innermost one
// holds what is printed. It words a failure that the library's own result
// already decided, and decides none.
class LibraryMessages {
 public:
  LibraryMessages();
  ~LibraryMessages();
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;

  // What was printed since construction or the last Stop(), as far as kept.
  std::string Stop();

  // Keeps what fits of `size` bytes at `data`.
  void Hold(const char* data, std::size_t size);
  // Writes what is held to the real standard error; async-signal-safe.
  void Release() const;

 private:
  LibraryMessages* outer_;
  char held_[kHeldMessageBytes];
  std::size_t used_ = 0;
};

}  // namespace qv::cli
