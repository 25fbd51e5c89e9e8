#pragma once

// Writing a file so that its name only ever holds a whole file: the bytes go
// to a hidden partial file beside the target, every write is checked, the
// file is synced, and only then is it renamed over the target.

#include <OpenImageIO/filesystem.h>

#include <filesystem>
#include <string>

namespace qv::cli {

// How many partial files at once the signal handler can remove: frames in
// flight are bounded by it.
inline constexpr std::size_t kMaxPartialFiles = 64;

// Fails early, as `cp` would, when the target exists and the caller may not
// write it. Throws RunError ("cannot write PATH: ...").
void CheckTargetWritable(const std::filesystem::path& target);

// Whether `path` names something there that is neither a regular file nor
// a directory (a device such as /dev/null, a named pipe, a socket; through
// a symbolic link too): a place that takes bytes, where a file renamed over
// it would replace it for every other user of it.
bool IsSpecialFile(const std::string& path);

// 16 lowercase hexadecimal digits from the kernel's randomness (the clock and
// the process id before it has any), for names that must not clash: the
// partial file's (whose exclusive create catches the unlikely clash) and a
// cluster job's files.
std::string RandomToken();

// Refuses a target that IsSpecialFile: the finished file is renamed over
// its target. Throws RunError.
void RefuseNonRegularTarget(const std::string& path);

// The partial file of one target, created at once (exclusively) and removed
// on destruction unless it was moved over the target. Its name is
// ".STEM.partial-TOKEN.EXT", TOKEN random, the stem shortened so that the
// name fits the file-name limit. For the file's whole life this object holds
// an open-file-description lock on it: a partial file of the target that no
// process holds is one whose writer ended (killed outright, by the OOM
// killer, by a power cut), whatever its host, container or process id, and
// construction removes it; one that is held is never touched.
class PartialFile {
 public:
  // Throws RunError when the partial file cannot be created.
  explicit PartialFile(const std::filesystem::path& target);
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  int fd() const { return fd_; }

  // Flushes the file to the device and gives it the target's permission
  // bits (and, for root, its owner) when the target exists. Throws RunError
  // naming the cause, for instance "No space left on device".
  void Finish();
  // Renames it over the target and syncs the directory, so that the rename
  // too outlasts a crash; afterwards there is nothing left to remove. Throws
  // RunError.
  void MoveOverTarget();

 private:
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

  std::filesystem::path target_;
  std::filesystem::path directory_;
  std::filesystem::path path_;
  int fd_ = -1;  // open, and so locked, until the file is renamed or removed
  std::size_t slot_ = kNoSlot;  // where the signal handler finds path_
};

// Writes all of `bytes` to `fd`. Throws RunError ("cannot write NAME: ...").
void WriteAll(int fd, const std::string& bytes, const std::string& name);

// Writes `bytes` as the whole file at `target`, through a PartialFile: a
// reader of `target` sees the old file or the new one, never a part.
// Throws RunError ("cannot write PATH: ...").
void WriteWholeFile(const std::filesystem::path& target, const std::string& bytes);

// The image library's writers do not all check what the system says of a
// write (a full disk, a file-size limit): this proxy writes straight to the
// partial file's descriptor and keeps the first failure, so that none passes
// unseen.
class CheckedFileProxy : public OIIO::Filesystem::IOProxy {
 public:
  CheckedFileProxy(const PartialFile& file);
  const char* proxytype() const override { return "quorvandile-checked"; }
  void close() override { m_mode = Closed; }  // the descriptor stays the PartialFile's
  size_t read(void* buf, size_t size) override;
  size_t write(const void* buf, size_t size) override;
  size_t pread(void* buf, size_t size, int64_t offset) override;
  size_t pwrite(const void* buf, size_t size, int64_t offset) override;
  size_t size() const override;

  // The errno of the first failed write, or 0.
  int failure() const { return failure_; }

 private:
  int fd_;
  int failure_ = 0;
};

// The system's words for an errno value: "No space left on device".
std::string SystemMessage(int error);

// On SIGINT, SIGTERM and SIGHUP, removes the partial file being written
// before the process ends; a signal ignored at start stays ignored. Makes a
// write past the file-size limit fail with EFBIG rather than end the process.
void RemovePartialFileOnSignals();

}  // namespace qv::cli
