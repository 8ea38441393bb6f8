#pragma once
// How much memory a render needs at its peak, how much this machine can give
// it, and the refusal when the first exceeds the second. A render that cannot
// fit is refused before it allocates anything, with a message, instead of
// being killed part-way by the kernel.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/options.hpp"

namespace neonvale {

// The float planes alive at the peak of one step of the scene driver:
// `scene_planes` of the supersampled size W x H, `output_planes` of the
// requested width x height. This table is the one place that knows what the
// driver and its passes hold at once; a change that saves memory edits it.
struct MemoryPhase {
  const char* step;
  double scene_planes;
  double output_planes;
};

const std::vector<MemoryPhase>& memory_phases();

// Bytes of the largest phase plus a fixed allowance for the assets and the
// program itself. Expects sizes that passed check_render_size's overflow test.
std::uint64_t estimate_peak_bytes(const Config& config);

// The memory this process can still use: MemAvailable of /proc/meminfo,
// lowered to the headroom of any memory-limited control group the process is
// in and to what RLIMIT_AS still allows. Empty when nothing can be read.
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

// Throws std::runtime_error("not enough memory: this render needs about
// X GiB, Y GiB available") when the estimate exceeds `available`; an unknown
// amount passes.
void check_memory(const Config& config, std::optional<std::uint64_t> available);

}  // namespace neonvale
