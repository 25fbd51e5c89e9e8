#include "library_messages.h"

#include <ext/stdio_sync_filebuf.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>

namespace qv::cli {
namespace {

std::FILE* g_user_errors = nullptr;  // the real standard error stream, once stderr is replaced
std::atomic<bool> g_fatal{false};    // the process is ending on a fatal error: nothing is held
thread_local LibraryMessages* t_window = nullptr;

void WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDERR_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// The stream that stands for standard error: to the calling thread's window,
// else to the real standard error.
ssize_t WriteMessage(void*, const char* data, std::size_t size) {
  LibraryMessages* window = t_window;
  if (window && !g_fatal.load()) {
    window->Hold(data, size);
  } else {
    WriteAll(data, size);
  }
  return static_cast<ssize_t>(size);
}

// What the ending thread's window held may be the reason for the end.
void ReleaseHeld() {
  if (LibraryMessages* window = t_window) window->Release();
}

std::terminate_handler g_default_terminate = nullptr;

[[noreturn]] void TerminateAloud() {
  g_fatal.store(true);
  ReleaseHeld();
  // The default handler names the exception on (now) the real standard error.
  if (g_default_terminate) g_default_terminate();
  std::abort();
}

extern "C" void AbortAloud(int signal) {
  if (!g_fatal.exchange(true)) ReleaseHeld();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void CollectLibraryMessages() {
  if (g_user_errors) return;
  cookie_io_functions_t functions{};
  functions.write = WriteMessage;
  std::FILE* messages = fopencookie(nullptr, "w", functions);
  if (!messages) return;
  // Unbuffered, so that each piece reaches the window of the thread that
  // printed it, and nothing waits in a buffer when the process ends.
  std::setvbuf(messages, nullptr, _IONBF, 0);
  std::fflush(stderr);
  g_user_errors = stderr;
  stderr = messages;  // the C library lets a program replace its standard streams
  // C++ libraries print through std::cerr and std::clog, which were bound
  // to the stream before it was replaced.
  // Never destroyed: the streams are flushed at exit, after static objects
  // are gone.
  auto* buffer = new __gnu_cxx::stdio_sync_filebuf<char>(messages);
  std::cerr.rdbuf(buffer);
  std::clog.rdbuf(buffer);
  g_default_terminate = std::set_terminate(TerminateAloud);
  struct sigaction abort_aloud {};
  abort_aloud.sa_handler = AbortAloud;
  sigemptyset(&abort_aloud.sa_mask);
  sigaction(SIGABRT, &abort_aloud, nullptr);
}

std::FILE* UserErrors() { return g_user_errors ? g_user_errors : stderr; }

std::string Cause(const std::string& error, const std::string& printed, const char* otherwise) {
  const std::string& message = !error.empty() ? error : printed;
  if (message.empty()) return otherwise;
  const std::string line = message.substr(0, message.find('\n'));
  return line.empty() ? std::string("unknown error") : line;
}

LibraryMessages::LibraryMessages() : outer_(t_window) { t_window = this; }

LibraryMessages::~LibraryMessages() { t_window = outer_; }

std::string LibraryMessages::Stop() {
  std::string text(held_, used_);
  used_ = 0;
  return text;
}

void LibraryMessages::Hold(const char* data, std::size_t size) {
  const std::size_t kept = std::min(size, sizeof held_ - used_);
  std::memcpy(held_ + used_, data, kept);
  used_ += kept;
}

void LibraryMessages::Release() const { WriteAll(held_, used_); }

}  // namespace qv::cli
