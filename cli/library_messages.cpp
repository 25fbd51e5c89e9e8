#include "library_messages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace qv::cli {

LibraryMessages::LibraryMessages() {
  std::fflush(stderr);
  capture_ = memfd_create("quorvandile-library-messages", MFD_CLOEXEC);
  if (capture_ < 0) return;
  saved_ = dup(STDERR_FILENO);
  if (saved_ < 0 || dup2(capture_, STDERR_FILENO) < 0) {
    if (saved_ >= 0) close(saved_);
    close(capture_);
    saved_ = capture_ = -1;
  }
}

LibraryMessages::~LibraryMessages() { Stop(); }

std::string LibraryMessages::Stop() {
  if (capture_ < 0) return {};
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  std::string text;
  char buffer[4096];
  for (off_t offset = 0;;) {
    const ssize_t n = pread(capture_, buffer, sizeof buffer, offset);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  close(capture_);
  saved_ = capture_ = -1;
  return text;
}

}  // namespace qv::cli
