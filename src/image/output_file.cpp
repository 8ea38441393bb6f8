#include "image/output_file.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <system_error>

namespace neonvale {

namespace {

// The temporary's name for a signal handler; only one save runs at a time.
char pending_path[4096];
volatile std::sig_atomic_t pending = 0;

void on_fatal_signal(int signal_number) {
  remove_pending_output();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

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

void install_output_cleanup() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    // A signal the caller chose to ignore stays ignored.
    if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

OutputFile::OutputFile(const std::filesystem::path& target) : target_(target) {
  std::error_code error;
  if (std::filesystem::is_symlink(target_, error)) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(target_, error);
    if (!error) target_ = resolved;
  }
  std::string pattern = (folder_of(target_) / ("." + target_.filename().string() + ".tmp-XXXXXX")).string();
  if (pattern.size() >= sizeof pending_path) return;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return;
  std::memcpy(pending_path, pattern.c_str(), pattern.size() + 1);
  pending = 1;
  temp_ = pattern;
  // mkstemp makes the file private; give it the permissions a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
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
    pending = 0;
    ::unlink(temp_.c_str());
  }
}

}  // namespace neonvale
