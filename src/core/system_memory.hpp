#pragma once
// How much memory this process can still use: what the machine has free, what
// a memory-limited control group allows, what the address-space limit leaves.
// Large requests are refused up front against it (a render, a PNG header
// that promises gigabytes) instead of the process being killed part-way.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace neonvale {

// MemAvailable of /proc/meminfo, lowered to the headroom of any
// memory-limited control group the process is in and to what RLIMIT_AS still
// allows. Empty when nothing can be read.
std::optional<std::uint64_t> available_memory_bytes();

// Parts of available_memory_bytes, taking file contents or folders so that
// tests can give them their own.
std::optional<std::uint64_t> parse_mem_available(const std::string& meminfo);
// `proc_cgroup` is the text of /proc/self/cgroup, `cgroup_root` the mount
// folder of the hierarchies (/sys/fs/cgroup). Walks from the process's group
// up to the root and returns the smallest limit minus usage (usage without
// reclaimable file cache) of any group that has a limit.
std::optional<std::uint64_t> cgroup_headroom(const std::string& proc_cgroup,
                                             const std::filesystem::path& cgroup_root);

// GiB with one decimal, rounded up or down.
std::string format_gib(std::uint64_t bytes, bool round_up);

}  // namespace neonvale
