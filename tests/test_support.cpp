#include "test_support.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace neonvale::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "neonvale-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::install_assets() const {
  const auto target = path_ / "assets" / "01_neonvale";
  std::filesystem::create_directories(target);
  for (const auto& entry : std::filesystem::directory_iterator(source_dir() / "assets" / "01_neonvale"))
    std::filesystem::copy_file(entry.path(), target / entry.path().filename());
}

std::filesystem::path source_dir() { return NEONVALE_SOURCE_DIR; }

bool unprivileged_prefix(const std::filesystem::path& folder, std::string* prefix) {
  *prefix = "";
  if (::geteuid() != 0) return true;
  const std::string drop = "setpriv --inh-caps=-all --bounding-set=-all ";
  const auto probe = folder / "probe";
  std::ofstream(probe) << "x";
  std::filesystem::permissions(probe, std::filesystem::perms::none);
  const RunResult r = run_in(folder, drop + "cat probe");
  std::filesystem::remove(probe);
  if (r.exit_code == 0 || r.err.find("Permission denied") == std::string::npos) return false;
  *prefix = drop;
  return true;
}

std::string as_other_user() {
  return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

std::filesystem::path executable_for_other_user(std::string* why) {
  static TempDir folder;
  static const std::filesystem::path copy = [&]() -> std::filesystem::path {
    std::error_code error;
    const auto target = folder.path() / "neonvale";
    std::filesystem::copy_file(NEONVALE_EXE, target, error);
    std::filesystem::permissions(folder.path(), std::filesystem::perms(0755), error);
    if (error) return {};
    return target;
  }();
  if (copy.empty()) {
    *why = "cannot copy the program to " + folder.path().string();
    return {};
  }
  const RunResult probe = run_in(folder.path(), as_other_user() + "'" + copy.string() + "' --version");
  if (probe.exit_code != 0) {
    *why = "another user cannot run " + copy.string() + ": " + probe.err;
    return {};
  }
  return copy;
}

std::vector<std::string> leftover_temporaries(const std::filesystem::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos)
      found.push_back(entry.path().filename().string());
  return found;
}

const SceneAssets& shipped_assets() {
  static const SceneAssets assets = load_scene_assets(source_dir() / "assets" / "01_neonvale");
  return assets;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<PngChunk> png_chunks(const std::string& bytes) {
  static const std::string signature("\x89PNG\r\n\x1a\n", 8);
  if (bytes.compare(0, 8, signature) != 0) return {};
  std::vector<PngChunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= bytes.size()) {
    const auto byte = [&](std::size_t i) { return std::uint32_t(static_cast<unsigned char>(bytes[i])); };
    const std::size_t length = (byte(at) << 24) | (byte(at + 1) << 16) | (byte(at + 2) << 8) | byte(at + 3);
    if (at + 12 + length > bytes.size()) return {};
    chunks.push_back({bytes.substr(at + 4, 4), bytes.substr(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

RunResult run_in(const std::filesystem::path& folder, const std::string& command) {
  const auto out_path = folder / ".run.out";
  const auto err_path = folder / ".run.err";
  const std::string line = "cd '" + folder.string() + "' && " + command + " >'" + out_path.string() + "' 2>'" +
                           err_path.string() + "' </dev/null";
  const int status = std::system(line.c_str());
  RunResult result;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  rusage usage{};
  if (::getrusage(RUSAGE_CHILDREN, &usage) == 0) result.max_rss_kib = usage.ru_maxrss;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}

}  // namespace neonvale::test
