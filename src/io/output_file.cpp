#include "io/output_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>

namespace neonvale {

namespace {

// The temporary's name for a signal handler; only one save runs at a time.
// The flag is a lock-free atomic rather than a volatile sig_atomic_t because
// the handler may run on any thread of the process, not only the saving one.
char pending_path[4096];
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is read by a signal handler");

// Makes a completed rename durable; a folder that cannot be synced is no error.
void sync_folder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::filesystem::path folder_of(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

}  // namespace

void remove_pending_output() noexcept {
  if (pending) {
    pending = 0;
    ::unlink(pending_path);
  }
}

OutputFile::OutputFile(const std::filesystem::path& target) : target_(target) {
  std::error_code error;
  if (std::filesystem::is_symlink(target_, error)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(target_, error);
    if (!error) target_ = resolved;
  }
  // A folder in the target's place could never be replaced by the rename.
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return;
  const std::string pattern = (folder_of(target_) / ("." + target_.filename().string() + ".tmp-XXXXXX")).string();
  if (pattern.size() >= sizeof pending_path) return;
  // The name is published before mkstemp creates the file (mkstemp fills in
  // the buffer itself), so a signal at any point finds the file it must
  // remove; before creation, removing the not-yet-existing name is harmless.
  std::memcpy(pending_path, pattern.c_str(), pattern.size() + 1);
  pending = 1;
  const int fd = ::mkstemp(pending_path);
  if (fd < 0) {
    pending = 0;
    return;
  }
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  temp_ = pending_path;
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
    sync_folder(folder_of(target_));
  }
  return ok;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());  // before the flag drops, so no signal can miss the file
    pending = 0;
  }
}

}  // namespace neonvale
