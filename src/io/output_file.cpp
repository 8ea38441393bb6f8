#include "io/output_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace neonvale {

namespace {

// The name of the temporary for a signal handler; only one save runs at a
// time. The flag is a lock-free atomic rather than a volatile sig_atomic_t so
// that its order with the name is kept whichever thread reads it.
char pending_path[4096];
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is read by a signal handler");

constexpr int kMaxLinks = 40;       // links followed before the name counts as a loop, as in the kernel
constexpr int kNameAttempts = 100;  // names tried before giving up on a free one
constexpr std::size_t kRandomChars = 6;
constexpr char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::filesystem::path folder_of(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Makes a completed rename durable; a folder that cannot be synced is no error.
void sync_folder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Follows symbolic links in the last component of `path` to the name they
// lead to, which need not exist (a dangling link). A relative link counts
// from the link's own folder, as the kernel does. False for a loop (more
// links than the kernel would follow) or a link that cannot be read.
bool follow_links(std::filesystem::path path, std::filesystem::path* resolved) {
  for (int followed = 0; followed <= kMaxLinks; ++followed) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = path;
      return true;
    }
    char content[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), content, sizeof content);
    if (n <= 0 || std::size_t(n) >= sizeof content) return false;
    const std::filesystem::path next(std::string(content, std::size_t(n)));
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return false;
}

// "<folder>/.<name>.tmp-": what every temporary of `target` is called, up to
// its random part.
std::string temporary_prefix(const std::filesystem::path& target) {
  return (folder_of(target) / ("." + target.filename().string() + ".tmp-")).string();
}

bool is_name_char(char c) { return c != '\0' && std::strchr(kNameChars, c) != nullptr; }

// Whether the folder entry `entry` is "<file_prefix>" and six name characters.
bool is_temporary_of(const char* entry, const std::string& file_prefix) {
  const std::size_t length = std::strlen(entry);
  if (length != file_prefix.size() + kRandomChars || std::strncmp(entry, file_prefix.c_str(), file_prefix.size()) != 0)
    return false;
  for (std::size_t i = file_prefix.size(); i < length; ++i)
    if (!is_name_char(entry[i])) return false;
  return true;
}

// A temporary in use is locked by its save for as long as the process
// lives, so one that can be locked was left by a process that is gone. It is
// removed only while locked here, and only if its name still leads to the
// file that was locked.
void remove_if_abandoned(int folder_fd, const char* entry) {
  int fd = ::openat(folder_fd, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) fd = ::openat(folder_fd, entry, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat opened {}, named {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::fstatat(folder_fd, entry, &named, AT_SYMLINK_NOFOLLOW) == 0 && same_file(opened, named))
    ::unlinkat(folder_fd, entry, 0);
  ::close(fd);
}

// Removes the temporaries of `target` that earlier runs, killed before they
// could clean up, left in its folder.
void remove_abandoned_temporaries(const std::filesystem::path& target) {
  DIR* folder = ::opendir(folder_of(target).c_str());
  if (!folder) return;
  const std::string file_prefix = "." + target.filename().string() + ".tmp-";
  while (const dirent* entry = ::readdir(folder))
    if (is_temporary_of(entry->d_name, file_prefix)) remove_if_abandoned(::dirfd(folder), entry->d_name);
  ::closedir(folder);
}

// Publishes the name of a temporary about to be created, for the signal
// handlers; a signal before the file exists removes nothing. False when the
// name does not fit.
bool publish_pending(const std::string& name) {
  if (name.size() >= sizeof pending_path) return false;
  pending = 0;
  std::memcpy(pending_path, name.c_str(), name.size() + 1);
  pending = 1;
  return true;
}

// Six random name characters. Names only need to differ from the ones in
// the folder; a name that is taken is simply replaced by another.
std::string random_suffix() {
  static std::uint64_t state = [] {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::uint64_t(now.tv_nsec) ^ (std::uint64_t(now.tv_sec) << 30) ^ (std::uint64_t(::getpid()) << 20);
  }();
  state += 0x9E3779B97F4A7C15ull;  // splitmix64
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  std::string suffix;
  for (std::size_t i = 0; i < kRandomChars; ++i, z /= 62) suffix += kNameChars[z % 62];
  return suffix;
}

// The path by which the kernel lets an unnamed file be linked into a folder.
std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An unnamed file in `folder`, or -1 (with errno set) where the file system
// cannot make one or it could not be given a name later.
int create_unnamed_temporary(const std::filesystem::path& folder) {
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat linkable {};
  if (::stat(descriptor_path(fd).c_str(), &linkable) != 0) {
    ::close(fd);
    errno = EOPNOTSUPP;
    return -1;
  }
  // Locked from the start, so that under the name it gets before the rename
  // no other run takes it for abandoned.
  ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
#else
  (void)folder;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Locks a new named temporary as in use and checks that its name still leads
// to it: another run may have taken it for abandoned and removed it between
// its creation and the lock. Without locks on this file system no run can
// take it for abandoned either.
bool lock_as_ours(int fd, const char* name) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno != EWOULDBLOCK;
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(name, &named) == 0 && same_file(opened, named);
}

// A new, private, locked file named "<prefix>XXXXXX", left published for the
// signal handlers; -1 with errno set when none can be made.
int create_named_temporary(const std::string& prefix) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    if (!publish_pending(prefix + "XXXXXX")) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int fd = ::mkostemp(pending_path, O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      pending = 0;
      errno = error;
      return -1;
    }
    if (lock_as_ours(fd, pending_path)) return fd;
    ::close(fd);  // removed by another run's clean-up: not ours to remove again
  }
  pending = 0;
  errno = EEXIST;
  return -1;
}

// Links the unnamed file `fd` under a free "<prefix>XXXXXX", published for
// the signal handlers, and returns that name; empty on failure.
std::string name_unnamed_temporary(int fd, const std::string& prefix) {
  const std::string source = descriptor_path(fd);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = prefix + random_suffix();
    if (!publish_pending(name)) return {};
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return name;
    pending = 0;
    if (errno != EEXIST) return {};
  }
  return {};
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Gives the finished file the permission bits, owner and group of the file
// it replaces (the owner and group as far as the process may set them), or
// those of a newly created file. Owner first: changing it clears the
// set-user-ID and set-group-ID bits that the mode then restores.
void take_attributes_of(const std::filesystem::path& target, int fd) {
  struct stat old {};
  if (::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      const int group_only = ::fchown(fd, uid_t(-1), old.st_gid);
      (void)group_only;
    }
    ::fchmod(fd, old.st_mode & 07777);
  } else {
    ::fchmod(fd, 0666 & ~current_umask());
  }
}

// A descriptor opened with O_NONBLOCK made blocking, or -1 (closed).
int blocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return fd;
  ::close(fd);
  return -1;
}

// A named pipe without a reader yet: waits for one, as a shell redirection
// does. -1 for anything else that refused the open.
int open_pipe_waiting(const std::filesystem::path& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return -1;
  const int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) return fd;
  ::close(fd);
  return -1;
}

}  // namespace

void remove_pending_output() noexcept {
  if (pending) {
    pending = 0;
    ::unlink(pending_path);
  }
}

OutputFile::OutputFile(const std::filesystem::path& target, Temporary temporary) : name_(target) {
  // An empty name is no file, though the folder it would stand in is.
  if (target.empty() || !follow_links(target, &target_)) return;
  // Opening for writing without creating or truncating tells what is there
  // and whether this process may write it, and changes nothing. O_NONBLOCK
  // keeps a named pipe without a reader from blocking this first look.
  const int fd = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) open_regular_or_new(-1, temporary);
    if (error == ENXIO) take(open_pipe_waiting(target_), Method::direct);
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return;
  }
  if (S_ISREG(st.st_mode))
    open_regular_or_new(fd, temporary);
  else
    take(blocking(fd), Method::direct);
}

// `existing_fd` is the target opened for writing, or -1 when there is none.
void OutputFile::open_regular_or_new(int existing_fd, Temporary temporary) {
  remove_abandoned_temporaries(target_);
  int fd = -1;
  Method method = Method::none;
  if (temporary == Temporary::unnamed_where_possible) {
    fd = create_unnamed_temporary(folder_of(target_));
    method = Method::unnamed_temporary;
  }
  if (fd < 0) {
    fd = create_named_temporary(temporary_prefix(target_));
    method = Method::named_temporary;
    if (fd >= 0) temp_ = pending_path;
  }
  // A folder that refuses new files by its permissions: the file itself may
  // still be written, as any plain save would.
  if (fd < 0 && existing_fd >= 0 && (errno == EACCES || errno == EPERM)) {
    fd = existing_fd;
    existing_fd = -1;
    method = Method::in_place;
  }
  if (existing_fd >= 0) ::close(existing_fd);
  take(fd, method);
}

void OutputFile::take(int fd, Method method) {
  if (fd < 0) return;
  file_ = ::fdopen(fd, "wb");  // never truncates: a file written in place stays as it is for now
  if (file_) {
    method_ = method;
    return;
  }
  ::close(fd);
  discard_temporary();
}

bool OutputFile::commit() {
  switch (method_) {
    case Method::unnamed_temporary:
    case Method::named_temporary:
      return commit_replacement();
    case Method::in_place:
      return commit_in_place();
    case Method::direct:
      return commit_direct();
    case Method::none:
      break;
  }
  return false;
}

bool OutputFile::commit_replacement() {
  std::FILE* file = file_;
  file_ = nullptr;
  const int fd = ::fileno(file);
  bool ok = std::fflush(file) == 0;
  if (ok) take_attributes_of(target_, fd);
  ok = ok && ::fsync(fd) == 0;
  if (ok && method_ == Method::unnamed_temporary) {
    // An unnamed file cannot be renamed over another: it gets a temporary
    // name first, for the instant before the rename.
    temp_ = name_unnamed_temporary(fd, temporary_prefix(target_));
    ok = !temp_.empty();
  }
  ok = (std::fclose(file) == 0) && ok;
  method_ = Method::none;
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (!ok) {
    discard_temporary();
    return false;
  }
  pending = 0;
  temp_.clear();
  sync_folder(folder_of(target_));
  return true;
}

// The file was overwritten from its start; what is left of the old one
// beyond the new end is cut off.
bool OutputFile::commit_in_place() {
  std::FILE* file = file_;
  file_ = nullptr;
  method_ = Method::none;
  bool ok = std::fflush(file) == 0;
  const off_t length = ok ? ::ftello(file) : -1;
  ok = ok && length >= 0 && ::ftruncate(::fileno(file), length) == 0 && ::fsync(::fileno(file)) == 0;
  return (std::fclose(file) == 0) && ok;
}

// A device or pipe: everything must have been taken; there is nothing to
// sync or rename.
bool OutputFile::commit_direct() {
  std::FILE* file = file_;
  file_ = nullptr;
  method_ = Method::none;
  const bool ok = std::fflush(file) == 0;
  return (std::fclose(file) == 0) && ok;
}

// The name is removed before the flag drops, so no signal can miss the file.
void OutputFile::discard_temporary() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  pending = 0;
  temp_.clear();
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) discard_temporary();
}

}  // namespace neonvale
