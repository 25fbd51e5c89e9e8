#include "library_messages.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace qv::cli {
namespace {

std::FILE* g_user_errors = nullptr;  // set once, before threads start
std::atomic<int> g_buffer{-1};       // the descriptor standard error writes to, or -1

long BufferEnd() {
  const int buffer = g_buffer.load();
  if (buffer < 0) return 0;
  std::fflush(stderr);
  struct stat status {};  // the size, without moving the offset standard error writes at
  return fstat(buffer, &status) == 0 ? static_cast<long>(status.st_size) : 0;
}

}  // namespace

void CollectLibraryMessages() {
  if (g_buffer.load() >= 0) return;
  std::fflush(stderr);
  const int buffer = memfd_create("quorvandile-library-messages", MFD_CLOEXEC);
  if (buffer < 0) return;
  const int real = dup(STDERR_FILENO);
  std::FILE* user = real < 0 ? nullptr : fdopen(real, "w");
  if (!user || dup2(buffer, STDERR_FILENO) < 0) {
    if (user) std::fclose(user);
    close(buffer);
    return;
  }
  std::setvbuf(user, nullptr, _IONBF, 0);  // as unbuffered as stderr is
  g_user_errors = user;
  g_buffer.store(buffer);
}

std::FILE* UserErrors() { return g_user_errors ? g_user_errors : stderr; }

LibraryMessages::LibraryMessages() : start_(BufferEnd()) {}

std::string LibraryMessages::Stop() {
  const int buffer = g_buffer.load();
  if (buffer < 0) return {};
  const long end = BufferEnd();
  std::string text;
  char chunk[4096];
  for (off_t offset = start_; offset < end;) {
    const ssize_t n = pread(buffer, chunk, std::min<std::size_t>(sizeof chunk, static_cast<std::size_t>(end - offset)),
                            offset);
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    offset += n;
  }
  start_ = end;
  return text;
}

}  // namespace qv::cli
