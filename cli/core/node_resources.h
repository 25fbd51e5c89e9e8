#pragma once

// What this process may use of the machine it runs on: not the whole node
// where a Slurm task, a container or `taskset` gives it less. Cores are the
// CPUs its affinity mask holds, under its cgroup's CPU quota; memory is the
// physical memory, under its cgroup's memory limit.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace qv::cli {

// The lowest memory limit of the cgroups this process is in, the cgroup of
// /proc/self/cgroup and every one above it: cgroup v2's memory.max ("max":
// none), else v1's memory.limit_in_bytes. Nothing when none is set or none
// can be read. `root` stands for the file system's root.
std::optional<std::uint64_t> CgroupMemoryLimit(const std::filesystem::path& root = "/");

// The CPUs the lowest CPU quota of the same cgroups allows, rounded up:
// cgroup v2's cpu.max ("max": none), else v1's cpu.cfs_quota_us (-1: none)
// over cpu.cfs_period_us. Nothing when none is set.
std::optional<std::uint64_t> CgroupCpuLimit(const std::filesystem::path& root = "/");

// The CPUs this process may run on, under its cgroup's quota; at least 1.
unsigned UsableCores();

// The physical memory, under this process's cgroup limit; 0 where the
// system does not say how much it has.
std::uint64_t UsableMemory();

}  // namespace qv::cli
