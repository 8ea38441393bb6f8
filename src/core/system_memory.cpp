#include "core/system_memory.hpp"

#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace neonvale {

namespace {

std::optional<std::string> read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<std::uint64_t> parse_number(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const std::uint64_t digit = std::uint64_t(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::uint64_t> read_number(const std::filesystem::path& path) {
  const auto text = read_text(path);
  return text ? parse_number(*text) : std::nullopt;
}

// The value of "key value" in a memory.stat file.
std::optional<std::uint64_t> stat_value(const std::filesystem::path& path, const std::string& key) {
  const auto text = read_text(path);
  if (!text) return std::nullopt;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, key.size() + 1, key + " ") == 0) return parse_number(line.substr(key.size() + 1));
  return std::nullopt;
}

struct CgroupFiles {
  const char* limit;
  const char* usage;
  const char* reclaimable;  // key in memory.stat
};

std::filesystem::path group_folder(const std::filesystem::path& mount, const std::string& group) {
  const std::size_t start = group.find_first_not_of('/');
  return start == std::string::npos ? mount : mount / group.substr(start);
}

// Version 2 groups live at <root>/<path>, version 1 memory groups at
// <root>/memory/<path>. A limit on any enclosing group applies too.
std::optional<std::uint64_t> headroom_along(const std::filesystem::path& mount, std::string group,
                                            const CgroupFiles& files) {
  std::optional<std::uint64_t> least;
  while (true) {
    const std::filesystem::path folder = group_folder(mount, group);
    const auto limit = read_number(folder / files.limit);  // "max" reads as no number
    // Version 1 reports "no limit" as a huge page-rounded number.
    if (limit && *limit < (std::uint64_t(1) << 62)) {
      std::uint64_t usage = read_number(folder / files.usage).value_or(0);
      const std::uint64_t cache = stat_value(folder / "memory.stat", files.reclaimable).value_or(0);
      usage = usage > cache ? usage - cache : 0;
      const std::uint64_t room = *limit > usage ? *limit - usage : 0;
      least = least ? std::min(*least, room) : room;
    }
    if (group.empty() || group == "/") break;
    const std::size_t slash = group.find_last_of('/');
    group = slash == std::string::npos || slash == 0 ? std::string("/") : group.substr(0, slash);
  }
  return least;
}

std::optional<std::uint64_t> address_space_headroom() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  // The first field of statm is the current virtual size in pages.
  const auto pages = read_number("/proc/self/statm");
  const std::uint64_t used = pages ? *pages * std::uint64_t(::sysconf(_SC_PAGESIZE)) : 0;
  return limit.rlim_cur > used ? std::uint64_t(limit.rlim_cur) - used : 0;
}

std::optional<std::uint64_t> smaller(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

std::optional<std::uint64_t> parse_mem_available(const std::string& meminfo) {
  const std::string key = "MemAvailable:";
  const std::size_t at = meminfo.find(key);
  if (at == std::string::npos) return std::nullopt;
  const auto kib = parse_number(meminfo.substr(at + key.size()));
  if (!kib) return std::nullopt;
  return *kib * 1024;
}

std::optional<std::uint64_t> cgroup_headroom(const std::string& proc_cgroup,
                                             const std::filesystem::path& cgroup_root) {
  std::optional<std::uint64_t> least;
  std::istringstream lines(proc_cgroup);
  std::string line;
  // Lines read "id:controllers:path"; "0::path" is the unified hierarchy.
  while (std::getline(lines, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      least = smaller(least, headroom_along(cgroup_root, group, {"memory.max", "memory.current", "inactive_file"}));
    } else {
      std::istringstream names(controllers);
      std::string name;
      while (std::getline(names, name, ','))
        if (name == "memory")
          least = smaller(least, headroom_along(cgroup_root / "memory", group,
                                                {"memory.limit_in_bytes", "memory.usage_in_bytes",
                                                 "total_inactive_file"}));
    }
  }
  return least;
}

namespace {

std::optional<std::uint64_t> free_memory_bytes() {
  std::optional<std::uint64_t> available;
  if (const auto meminfo = read_text("/proc/meminfo")) available = parse_mem_available(*meminfo);
  if (const auto groups = read_text("/proc/self/cgroup"))
    available = smaller(available, cgroup_headroom(*groups, "/sys/fs/cgroup"));
  return available;
}

}  // namespace

std::optional<std::uint64_t> available_memory_bytes() {
  return smaller(free_memory_bytes(), address_space_headroom());
}

std::optional<std::uint64_t> MemoryRoom::available() const { return smaller(memory, address_space); }

MemoryRoom memory_room(const std::filesystem::path& scratch_folder) {
  return MemoryRoom{free_memory_bytes(), address_space_headroom(), scratch_space_bytes(scratch_folder),
                    scratch_folder};
}

std::filesystem::path scratch_folder(const char* tmpdir) {
  if (tmpdir && *tmpdir) return tmpdir;
  return "/var/tmp";
}

std::optional<std::uint64_t> scratch_space_bytes(const std::filesystem::path& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::nullopt;  // also a read-only file system
  struct statfs kind {};
  if (::statfs(folder.c_str(), &kind) != 0) return std::nullopt;
  if (kind.f_type == TMPFS_MAGIC || kind.f_type == RAMFS_MAGIC) return std::nullopt;
  struct statvfs space {};
  if (::statvfs(folder.c_str(), &space) != 0) return std::nullopt;
  // Blocks kept for the superuser do not count: a render should not take them.
  return std::uint64_t(space.f_bavail) * std::uint64_t(space.f_frsize);
}

std::string format_gib(std::uint64_t bytes, bool round_up) {
  const std::uint64_t gib = std::uint64_t(1) << 30;
  const std::uint64_t capped = std::min<std::uint64_t>(bytes, UINT64_MAX / 10 - gib);
  const std::uint64_t tenths = (capped * 10 + (round_up ? gib - 1 : 0)) / gib;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace neonvale
