#pragma once
// OutputFile: a file written beside its target under a temporary name and
// renamed over the target only after a complete write, flush and sync. Until
// commit() succeeds the target is untouched; the temporary is removed on every
// other path, and by the signal handlers of app/signals when the process is
// interrupted.
#include <cstdio>
#include <filesystem>

namespace neonvale {

class OutputFile {
 public:
  // A target that is a symbolic link is written through, as opening it would.
  explicit OutputFile(const std::filesystem::path& target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The open temporary, or null when it could not be created.
  std::FILE* file() const { return file_; }
  // Flushes, syncs, closes and renames into place; false on any failure.
  bool commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::FILE* file_ = nullptr;
};

// Removes the temporary of the save in progress, if any. Async-signal-safe.
void remove_pending_output() noexcept;

}  // namespace neonvale
