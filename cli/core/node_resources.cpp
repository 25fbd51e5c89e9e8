#include "node_resources.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// Where the system mounts the cgroup hierarchies: v2's unified one, and v1's
// one per controller.
constexpr const char* kCgroupMount = "sys/fs/cgroup";

std::optional<std::uint64_t> Number(const std::string& text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// The whitespace-separated words of a file's first line.
std::vector<std::string> Words(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The cgroup this process is in within the hierarchy of `controller`, from
// /proc/self/cgroup ("ID:CONTROLLERS:PATH" each line); an empty controller
// names v2's unified hierarchy ("0::PATH").
std::optional<std::string> CgroupOf(const fs::path& root, const std::string& controller) {
  std::ifstream in(root / "proc/self/cgroup");
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::istringstream controllers(line.substr(first + 1, second - first - 1));  // "cpu,cpuacct"
    bool match = controller.empty() && second == first + 1;
    for (std::string name; !controller.empty() && std::getline(controllers, name, ',');) {
      match = match || name == controller;
    }
    if (match) return line.substr(second + 1);
  }
  return std::nullopt;
}

// The lowest of what `read` finds in the cgroup `path` of the hierarchy
// mounted at `mount` and in each cgroup above it. A path that is not under
// the mount (a container sees its own cgroup as the root) ends at the root.
template <class Read>
std::optional<std::uint64_t> LowestUpwards(const fs::path& mount, const std::string& path, Read read) {
  std::vector<fs::path> cgroups = {mount};
  for (const fs::path& part : fs::path(path).relative_path()) {
    if (part.empty() || part == "." || part == "..") continue;
    cgroups.push_back(cgroups.back() / part);
  }
  std::optional<std::uint64_t> lowest;
  for (const fs::path& cgroup : cgroups) {
    if (const std::optional<std::uint64_t> value = read(cgroup)) lowest = std::min(lowest.value_or(*value), *value);
  }
  return lowest;
}

// The lowest limit along the v2 path, else along the v1 path of `controller`.
template <class ReadV2, class ReadV1>
std::optional<std::uint64_t> CgroupLimit(const fs::path& root, const std::string& controller, ReadV2 v2,
                                         ReadV1 v1) {
  const fs::path mount = root / kCgroupMount;
  if (const auto path = CgroupOf(root, controller)) {
    if (auto limit = LowestUpwards(mount / controller, *path, v1)) return limit;
  }
  if (const auto path = CgroupOf(root, "")) return LowestUpwards(mount, *path, v2);
  return std::nullopt;
}

// A quota of `quota` per `period` as whole CPUs, rounded up.
std::optional<std::uint64_t> Cpus(std::optional<std::uint64_t> quota, std::optional<std::uint64_t> period) {
  if (!quota || !period || *period == 0) return std::nullopt;
  return std::max<std::uint64_t>(1, (*quota + *period - 1) / *period);
}

}  // namespace

std::optional<std::uint64_t> CgroupMemoryLimit(const fs::path& root) {
  const auto v2 = [](const fs::path& cgroup) -> std::optional<std::uint64_t> {
    const std::vector<std::string> words = Words(cgroup / "memory.max");
    return words.empty() ? std::nullopt : Number(words[0]);  // "max" is no number
  };
  const auto v1 = [](const fs::path& cgroup) -> std::optional<std::uint64_t> {
    const std::vector<std::string> words = Words(cgroup / "memory.limit_in_bytes");
    return words.empty() ? std::nullopt : Number(words[0]);
  };
  return CgroupLimit(root, "memory", v2, v1);
}

std::optional<std::uint64_t> CgroupCpuLimit(const fs::path& root) {
  const auto v2 = [](const fs::path& cgroup) -> std::optional<std::uint64_t> {
    const std::vector<std::string> words = Words(cgroup / "cpu.max");  // "QUOTA PERIOD" or "max PERIOD"
    return words.size() == 2 ? Cpus(Number(words[0]), Number(words[1])) : std::nullopt;
  };
  const auto v1 = [](const fs::path& cgroup) -> std::optional<std::uint64_t> {
    const std::vector<std::string> quota = Words(cgroup / "cpu.cfs_quota_us");  // -1: none
    const std::vector<std::string> period = Words(cgroup / "cpu.cfs_period_us");
    return quota.empty() || period.empty() ? std::nullopt : Cpus(Number(quota[0]), Number(period[0]));
  };
  return CgroupLimit(root, "cpu", v2, v1);
}

unsigned UsableCores() {
  std::uint64_t cores = std::max(1u, std::thread::hardware_concurrency());
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) == 0) cores = std::max(1, CPU_COUNT(&mask));
  if (const auto quota = CgroupCpuLimit()) cores = std::min(cores, *quota);
  return static_cast<unsigned>(cores);
}

std::uint64_t UsableMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_bytes = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_bytes <= 0) return 0;
  std::uint64_t memory = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_bytes), &memory)) {
    memory = std::numeric_limits<std::uint64_t>::max();
  }
  if (const auto limit = CgroupMemoryLimit()) memory = std::min(memory, *limit);
  return memory;
}

}  // namespace qv::cli
