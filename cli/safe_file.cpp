#include "safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <system_error>

#include "core/errors.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// ".STEM.partial-HOST-" and ".EXT": a partial file of `target` from this host
// is the prefix, a process id, the suffix.
struct PartialName {
  std::string prefix;
  std::string suffix;
};

PartialName PartialNameOf(const fs::path& target) {
  // Through a stream: GCC 12 mistakes appends to a short string for an
  // overlapping copy at -O2.
  std::ostringstream prefix;
  prefix << '.' << target.stem().string() << ".partial-" << HostName() << '-';
  return {prefix.str(), target.extension().string()};
}

// Removes partial files of `target` whose process has ended.
void RemoveStalePartials(const fs::path& directory, const PartialName& name) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    const std::string file = entry.path().filename().string();
    if (file.size() <= name.prefix.size() + name.suffix.size() ||
        file.compare(0, name.prefix.size(), name.prefix) != 0 ||
        file.compare(file.size() - name.suffix.size(), name.suffix.size(), name.suffix) != 0) {
      continue;
    }
    const std::string digits = file.substr(name.prefix.size(), file.size() - name.prefix.size() - name.suffix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) fs::remove(entry.path(), error);
  }
}

// The files being written, for the signal handler: fixed buffers, since the
// handler may only call async-signal-safe functions, one per frame in flight.
// A path is published by its slot's flag once written, and withdrawn before
// the slot is reused.
constexpr std::size_t kSlots = kMaxPartialFiles;
char g_partials[kSlots][4096];
std::atomic<bool> g_taken[kSlots];      // claimed by a PartialFile
std::atomic<bool> g_published[kSlots];  // its path is complete

// A slot holding `path` for the signal handler, or kSlots when none is free
// (the file is then left to the next run's clean-up, should a signal come).
std::size_t Publish(const std::string& path) {
  if (path.size() >= sizeof g_partials[0]) return kSlots;
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    bool expected = false;
    if (!g_taken[slot].compare_exchange_strong(expected, true)) continue;
    std::memcpy(g_partials[slot], path.c_str(), path.size() + 1);
    g_published[slot].store(true);
    return slot;
  }
  return kSlots;
}

void Withdraw(std::size_t slot) {
  if (slot >= kSlots) return;
  g_published[slot].store(false);
  g_taken[slot].store(false);
}

extern "C" void RemovePartialAndExit(int signal) {
  for (std::size_t slot = 0; slot < kSlots; ++slot) {
    if (g_published[slot].load()) unlink(g_partials[slot]);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

std::string SystemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

void CheckTargetWritable(const fs::path& target) {
  std::error_code error;
  if (!fs::exists(target, error)) return;
  if (access(target.c_str(), W_OK) != 0) {
    throw RunError(Because("cannot write", target.string(), "the file exists and is not writable (" +
                                                                SystemMessage(errno) + ")"));
  }
}

PartialFile::PartialFile(const fs::path& target) {
  // Through a symbolic link, the file it names is replaced, not the link.
  std::error_code error;
  target_ = fs::is_symlink(target, error) ? fs::weakly_canonical(target, error) : target;
  if (error) target_ = target;
  const fs::path directory = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
  const PartialName name = PartialNameOf(target_);
  RemoveStalePartials(directory, name);
  path_ = directory / (name.prefix + std::to_string(getpid()) + name.suffix);
  // Published before it exists, so that a signal the moment it is created
  // still finds it; the name holds this process's id, so it is no one else's.
  slot_ = Publish(path_.string());
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    const int cause = errno;
    path_.clear();
    Withdraw(slot_);
    throw RunError(Because("cannot write", target.string(), SystemMessage(cause)));
  }
}

PartialFile::~PartialFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  Withdraw(slot_);
}

void PartialFile::Finish() {
  const auto fail = [this](int cause) {
    throw RunError(Because("cannot write", target_.string(), SystemMessage(cause)));
  };
  if (fsync(fd_) != 0) fail(errno);
  struct stat existing {};
  if (stat(target_.c_str(), &existing) == 0) {
    if (fchmod(fd_, existing.st_mode & 07777) != 0) fail(errno);
    if (geteuid() == 0 && fchown(fd_, existing.st_uid, existing.st_gid) != 0) fail(errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
}

void PartialFile::MoveOverTarget() {
  std::error_code error;
  fs::rename(path_, target_, error);
  if (error) throw RunError(Because("cannot write", target_.string(), error.message()));
  path_.clear();
  Withdraw(slot_);
  slot_ = kNoSlot;
}

void WriteWholeFile(const fs::path& target, const std::string& bytes) {
  PartialFile partial{target};
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(partial.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw RunError(Because("cannot write", target.string(), SystemMessage(n < 0 ? errno : EIO)));
    done += static_cast<std::size_t>(n);
  }
  partial.Finish();
  partial.MoveOverTarget();
}

CheckedFileProxy::CheckedFileProxy(const PartialFile& file)
    : IOProxy(file.path().string(), IOProxy::Write), fd_(file.fd()) {}

size_t CheckedFileProxy::read(void* buf, size_t size) {
  const size_t got = pread(buf, size, m_pos);
  m_pos += static_cast<int64_t>(got);
  return got;
}

size_t CheckedFileProxy::write(const void* buf, size_t size) {
  const size_t put = pwrite(buf, size, m_pos);
  m_pos += static_cast<int64_t>(put);
  return put;
}

size_t CheckedFileProxy::pread(void* buf, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, static_cast<char*>(buf) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t CheckedFileProxy::pwrite(const void* buf, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        ::pwrite(fd_, static_cast<const char*>(buf) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (failure_ == 0) failure_ = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t CheckedFileProxy::size() const {
  struct stat status {};
  return fstat(fd_, &status) == 0 ? static_cast<size_t>(status.st_size) : 0;
}

void RemovePartialFileOnSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // Ignored at start (nohup, a shell's background job): the caller wants
    // the run to outlive that signal, so it stays ignored.
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction remove {};
    remove.sa_handler = RemovePartialAndExit;
    remove.sa_flags = SA_RESTART;
    sigemptyset(&remove.sa_mask);
    sigaction(signal, &remove, nullptr);
  }
  // A write past a file-size limit (ulimit -f) then fails with EFBIG, and is
  // reported and cleaned up like a full disk, instead of killing the process
  // and leaving its partial file behind.
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace qv::cli
