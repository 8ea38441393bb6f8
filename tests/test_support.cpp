#include "test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

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

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return result;
}

}  // namespace neonvale::test
