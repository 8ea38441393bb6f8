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

// The room a render has, figure by figure. Mappings of scratch files count
// against the address-space limit as memory does, but not against the memory
// figure: the kernel can write their pages to disk.
struct MemoryRoom {
  std::optional<std::uint64_t> memory;         // MemAvailable, lowered to any cgroup's headroom
  std::optional<std::uint64_t> address_space;  // what RLIMIT_AS leaves; empty when unlimited
  std::optional<std::uint64_t> scratch;        // free bytes in the scratch folder; empty when unusable
  std::filesystem::path scratch_folder;
  // The smaller of memory and address_space, as available_memory_bytes gives it.
  std::optional<std::uint64_t> available() const;
};
MemoryRoom memory_room(const std::filesystem::path& scratch_folder);

// Where scratch files go: `tmpdir` (the value of $TMPDIR) when it names
// something, else /var/tmp, which unlike /tmp is seldom kept in memory.
std::filesystem::path scratch_folder(const char* tmpdir);
// The bytes an unprivileged process may still write in `folder`; empty when
// the folder cannot hold scratch files: it is missing, not a folder, cannot
// be written, or keeps its files in memory (tmpfs, ramfs), where they would
// take the very memory they are meant to spare.
std::optional<std::uint64_t> scratch_space_bytes(const std::filesystem::path& folder);

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
