// What this process may use of the node, read from a file tree laid out as
// the system lays out /proc and /sys/fs/cgroup.
#include "core/node_resources.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

using ::testing::Optional;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

class FakeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "node_resources_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  // Writes `text` to the file at `path` below the root, making its directories.
  void Write(const std::string& path, const std::string& text) {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path) << text;
  }

  fs::path root_;
};

TEST_F(FakeRoot, CgroupV2MemoryIsTheLowestLimitUpThePath) {
  Write("proc/self/cgroup", "0::/slurm/uid_0/job_7/step_0\n");
  Write("sys/fs/cgroup/memory.max", "max\n");  // the root: no limit
  Write("sys/fs/cgroup/slurm/uid_0/job_7/memory.max", std::to_string(4 * kGiB) + "\n");
  Write("sys/fs/cgroup/slurm/uid_0/job_7/step_0/memory.max", "max\n");
  EXPECT_THAT(CgroupMemoryLimit(root_), Optional(4 * kGiB));
  // A lower limit further down wins.
  Write("sys/fs/cgroup/slurm/uid_0/job_7/step_0/memory.max", std::to_string(kGiB) + "\n");
  EXPECT_THAT(CgroupMemoryLimit(root_), Optional(kGiB));
  // "max" all the way up: no limit.
  Write("sys/fs/cgroup/slurm/uid_0/job_7/memory.max", "max\n");
  Write("sys/fs/cgroup/slurm/uid_0/job_7/step_0/memory.max", "max\n");
  EXPECT_EQ(CgroupMemoryLimit(root_), std::nullopt);
}

TEST_F(FakeRoot, CgroupV1MemoryComesFromTheMemoryHierarchy) {
  Write("proc/self/cgroup", "5:cpu,cpuacct:/\n4:memory:/docker/abc\n0::/\n");
  Write("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");  // v1's "unlimited"
  Write("sys/fs/cgroup/memory/docker/abc/memory.limit_in_bytes", std::to_string(2 * kGiB) + "\n");
  Write("sys/fs/cgroup/memory.max", std::to_string(kGiB));  // not the hierarchy that holds memory here
  EXPECT_THAT(CgroupMemoryLimit(root_), Optional(2 * kGiB));
  // A container sees its own cgroup as the mount's root: the host's path
  // is not there, and the limit is the root's.
  fs::remove_all(root_ / "sys/fs/cgroup/memory/docker");
  Write("sys/fs/cgroup/memory/memory.limit_in_bytes", std::to_string(512 << 20) + "\n");
  EXPECT_THAT(CgroupMemoryLimit(root_), Optional(std::uint64_t{512} << 20));
}

TEST_F(FakeRoot, NothingToReadIsNoLimit) {
  EXPECT_EQ(CgroupMemoryLimit(root_), std::nullopt);  // no /proc/self/cgroup
  EXPECT_EQ(CgroupCpuLimit(root_), std::nullopt);
  Write("proc/self/cgroup", "0::/user.slice\n");  // and no cgroup files
  EXPECT_EQ(CgroupMemoryLimit(root_), std::nullopt);
  EXPECT_EQ(CgroupCpuLimit(root_), std::nullopt);
  Write("sys/fs/cgroup/user.slice/memory.max", "\n");
  Write("sys/fs/cgroup/user.slice/cpu.max", "garbage\n");
  EXPECT_EQ(CgroupMemoryLimit(root_), std::nullopt);
  EXPECT_EQ(CgroupCpuLimit(root_), std::nullopt);
}

TEST_F(FakeRoot, CpuQuotasRoundUpToWholeCpus) {
  Write("proc/self/cgroup", "0::/job\n");
  Write("sys/fs/cgroup/job/cpu.max", "max 100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_), std::nullopt);
  Write("sys/fs/cgroup/job/cpu.max", "150000 100000\n");
  EXPECT_THAT(CgroupCpuLimit(root_), Optional(2u));
  Write("sys/fs/cgroup/job/cpu.max", "10000 100000\n");
  EXPECT_THAT(CgroupCpuLimit(root_), Optional(1u));

  Write("proc/self/cgroup", "3:cpu,cpuacct:/task\n0::/\n");
  Write("sys/fs/cgroup/cpu/task/cpu.cfs_quota_us", "-1\n");
  Write("sys/fs/cgroup/cpu/task/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(CgroupCpuLimit(root_), std::nullopt);
  Write("sys/fs/cgroup/cpu/task/cpu.cfs_quota_us", "300000\n");
  EXPECT_THAT(CgroupCpuLimit(root_), Optional(3u));
}

TEST(UsableResources, AreWhatTheMachineHasAtMost) {
  EXPECT_GE(UsableCores(), 1u);
  EXPECT_LE(UsableCores(), std::max(1u, std::thread::hardware_concurrency()));
  const std::uint64_t physical =
      static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  EXPECT_GT(UsableMemory(), 0u);
  EXPECT_LE(UsableMemory(), physical);
}

}  // namespace
}  // namespace qv::cli
