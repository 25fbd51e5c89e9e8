#include "safe_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>
#include <system_error>

#include "core/errors.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// ".STEM.partial-" and ".EXT": a partial file of `target` is the prefix, a
// token of kTokenDigits lower-case hexadecimal digits, the suffix.
struct PartialName {
  std::string prefix;
  std::string suffix;
};

constexpr std::size_t kTokenDigits = 16;
constexpr std::string_view kPartialMark = ".partial-";

// `text` cut to at most `bytes`, never inside a UTF-8 character: some file
// systems refuse a name that is not valid UTF-8.
std::string Clipped(std::string text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

PartialName PartialNameOf(const fs::path& target) {
  // The stem gives way first, so that the name fits NAME_MAX whatever the
  // target's length; partial files of targets whose stems begin alike may
  // then share a prefix, which only matters to files nobody holds.
  const std::size_t fixed = 1 + kPartialMark.size() + kTokenDigits;
  const std::string extension = Clipped(target.extension().string(), NAME_MAX - fixed);
  // Through a stream: GCC 12 mistakes appends to a short string for an
  // overlapping copy at -O2.
  std::ostringstream prefix;
  prefix << '.' << Clipped(target.stem().string(), NAME_MAX - fixed - extension.size()) << kPartialMark;
  return {prefix.str(), extension};
}


// An open-file-description lock on the whole file (`type` F_WRLCK or
// F_RDLCK), without waiting. Unlike a classic POSIX lock it is not dropped
// when another descriptor of the same file closes (the image library's, as it
// reads the file back), and it is the writer's alone, not a process id's.
bool Lock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether `path` still names the file open as `fd`.
bool StillNamed(int fd, const fs::path& path) {
  struct stat open_file {}, named {};
  return fstat(fd, &open_file) == 0 && lstat(path.c_str(), &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

// Removes partial files of `target` that no process holds. A read lock is
// refused while the writer holds its write lock; one granted means the writer
// is gone, and while it is held no new writer can take the file for its own.
// Where locks are not supported nothing is removed: a live file is never
// taken for a dead one.
void RemoveStalePartials(const fs::path& directory, const PartialName& name) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
    const std::string file = entry.path().filename().string();
    if (file.size() != name.prefix.size() + kTokenDigits + name.suffix.size() ||
        file.compare(0, name.prefix.size(), name.prefix) != 0 ||
        file.compare(file.size() - name.suffix.size(), name.suffix.size(), name.suffix) != 0 ||
        file.find_first_not_of("0123456789abcdef", name.prefix.size()) < name.prefix.size() + kTokenDigits) {
      continue;
    }
    const int fd = open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && Lock(fd, F_RDLCK) && StillNamed(fd, entry.path())) {
      fs::remove(entry.path(), error);
    }
    ::close(fd);
  }
}

// Makes the directory entry of a renamed file durable. A directory that
// cannot be opened, or a file system that does not sync directories, leaves
// it to the system; a failure of the device is the write's failure.
int SyncDirectory(const fs::path& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  int cause = fsync(fd) == 0 ? 0 : errno;
  if (cause == EINVAL || cause == EROFS || cause == ENOTSUP || cause == EBADF) cause = 0;
  ::close(fd);
  return cause;
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

std::string RandomToken() {
  std::uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No randomness from the kernel yet (early boot): the clock and the process id.
    static std::atomic<std::uint64_t> counter{0};
    bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           (static_cast<std::uint64_t>(getpid()) << 40) ^ counter.fetch_add(1);
  }
  char token[kTokenDigits + 1];
  std::snprintf(token, sizeof token, "%016llx", static_cast<unsigned long long>(bits));
  return token;
}

std::string SystemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

void CheckTargetWritable(const fs::path& target) {
  std::error_code error;
  if (!fs::exists(target, error)) return;
  if (access(target.c_str(), W_OK) != 0) {
    throw RunError(Because("cannot write", target.string(), "the file exists and is not writable (" +
                                                                SystemMessage(errno) + ")"));
  }
}

bool IsSpecialFile(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

void RefuseNonRegularTarget(const std::string& path) {
  if (!IsSpecialFile(path)) return;
  throw RunError(Because("cannot write", path,
                         "it is not a regular file (a device, a pipe or a socket), and the tool replaces its output "
                         "with a new file"));
}

PartialFile::PartialFile(const fs::path& target) {
  // Through a symbolic link, the file it names is replaced, not the link.
  std::error_code error;
  target_ = fs::is_symlink(target, error) ? fs::weakly_canonical(target, error) : target;
  if (error) target_ = target;
  directory_ = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
  const PartialName name = PartialNameOf(target_);
  RemoveStalePartials(directory_, name);
  // A clash of tokens, or another run's clean-up taking the file between its
  // creation and its lock, is met with a new name.
  constexpr int kAttempts = 16;
  for (int attempt = 1;; ++attempt) {
    path_ = directory_ / (name.prefix + RandomToken() + name.suffix);
    // Published before it exists, so that a signal the moment it is created
    // still finds it; the name is random, so it is no one else's.
    slot_ = Publish(path_.string());
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    int cause = errno;
    if (fd_ >= 0) {
      const bool locked = Lock(fd_, F_WRLCK);
      cause = locked ? 0 : errno;
      // A file system without locks: the file is written unlocked, and no
      // run's clean-up removes it.
      const bool lockless = cause == ENOLCK || cause == EINVAL || cause == ENOTSUP;
      if ((locked || lockless) && StillNamed(fd_, path_)) return;
      if (locked || lockless || cause == EAGAIN || cause == EACCES) {
        cause = EEXIST;  // a clean-up took the file between its creation and its lock, and removes it
      } else {
        unlink(path_.c_str());
      }
      ::close(fd_);
      fd_ = -1;
    }
    path_.clear();
    Withdraw(slot_);
    slot_ = kNoSlot;
    if (cause != EEXIST || attempt == kAttempts) {
      throw RunError(Because("cannot write", target.string(), SystemMessage(cause)));
    }
  }
}

PartialFile::~PartialFile() {
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove(path_, ignored);  // before the lock goes with the descriptor
  }
  if (fd_ >= 0) ::close(fd_);
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
}

void PartialFile::MoveOverTarget() {
  std::error_code error;
  fs::rename(path_, target_, error);
  if (error) throw RunError(Because("cannot write", target_.string(), error.message()));
  path_.clear();
  Withdraw(slot_);
  slot_ = kNoSlot;
  ::close(fd_);  // the data was synced: nothing is left for close to report
  fd_ = -1;
  if (const int cause = SyncDirectory(directory_); cause != 0) {
    throw RunError(Because("cannot write", target_.string(), SystemMessage(cause)));
  }
}

void WriteAll(int fd, const std::string& bytes, const std::string& name) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw RunError(Because("cannot write", name, SystemMessage(n < 0 ? errno : EIO)));
    done += static_cast<std::size_t>(n);
  }
}

void WriteWholeFile(const fs::path& target, const std::string& bytes) {
  PartialFile partial{target};
  WriteAll(partial.fd(), bytes, target.string());
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
