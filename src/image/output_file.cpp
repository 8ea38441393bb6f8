#include "image/output_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

namespace neonvale {

namespace {
// The temporary's name for a signal handler; only one save runs at a time.
char pending_path[4096];
volatile std::sig_atomic_t pending = 0;
}  // namespace

void remove_pending_output() noexcept {
  if (pending) {
    ::unlink(pending_path);
    pending = 0;
  }
}

OutputFile::OutputFile(const std::filesystem::path& target) : target_(target) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  if (pattern.size() >= sizeof pending_path) return;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return;
  std::memcpy(pending_path, pattern.c_str(), pattern.size() + 1);
  pending = 1;
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  temp_ = pattern;
  file_ = ::fdopen(fd, "wb");
  if (!file_) ::close(fd);
}

bool OutputFile::commit() {
  if (!file_) return false;
  bool ok = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (ok) {
    pending = 0;
    temp_.clear();
  }
  return ok;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) {
    pending = 0;
    ::unlink(temp_.c_str());
  }
}

}  // namespace neonvale
