#pragma once
// OutputFile: the place a picture is saved to, opened before the long work
// that produces it, so that a target that cannot be written is reported at
// once, and written as a careful Unix tool writes a file.
//
// Symbolic links in the target's place are followed to the file they name,
// which is then saved there while the links stay links; a dangling link names
// the file to create, a loop cannot be opened. What is found there decides
// how the bytes go out:
//
//  - No file, or a regular file: the bytes go to a temporary file beside it,
//    which commit() flushes, syncs and renames over the target in one step,
//    giving it the permission bits, owner and group of the file it replaces
//    (as far as the process may set them). Until then the target is
//    untouched. The temporary has no name where the file system allows
//    (O_TMPFILE), so a killed process leaves nothing; it gets the hidden name
//    ".<name>.tmp-XXXXXX" only for the instant before the rename, or for the
//    whole save where unnamed files are not supported. A named temporary is
//    removed on every failure path, by the signal handlers of app/signals,
//    and, after the process was killed outright, by the next OutputFile for
//    the same target (a temporary in use is locked, one whose process is
//    gone is not).
//  - A regular file the process may not open for writing is refused and
//    left as it is: replacing it would defeat its write protection.
//  - A regular file in a folder that refuses new files, but which itself may
//    be written, is overwritten in place, as a plain save would do. It stays
//    untouched until the first byte is written, but a save that fails
//    part-way leaves it damaged.
//  - Anything else (a device, a named pipe) is opened and written directly,
//    never replaced. Opening a named pipe waits for its reader.
#include <cstdio>
#include <filesystem>

namespace neonvale {

class OutputFile {
 public:
  // Whether an unnamed temporary may be used; `named` is for tests of the
  // file systems that have none.
  enum class Temporary { unnamed_where_possible, named };

  // Opens the output; is_open() tells whether that worked. Never throws for
  // a target that cannot be written.
  explicit OutputFile(const std::filesystem::path& target,
                      Temporary temporary = Temporary::unnamed_where_possible);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return file_ != nullptr; }
  // The stream to write the bytes to, or null when the output could not be opened.
  std::FILE* file() const { return file_; }
  // The target as it was given, for messages.
  const std::filesystem::path& name() const { return name_; }
  // Completes the save: flushes, syncs and puts the bytes in place. False on
  // any failure, in which case a replaced target is still the old file.
  bool commit();

 private:
  enum class Method { none, unnamed_temporary, named_temporary, in_place, direct };

  void open_regular_or_new(int existing_fd, Temporary temporary);
  void take(int fd, Method method);
  bool commit_replacement();
  bool commit_in_place();
  bool commit_direct();
  void discard_temporary();

  std::filesystem::path name_;    // as given
  std::filesystem::path target_;  // the file the links lead to
  std::filesystem::path temp_;    // the named temporary, while it exists
  Method method_ = Method::none;
  std::FILE* file_ = nullptr;
};

// Removes the temporary of the save in progress, if it has a name.
// Async-signal-safe.
void remove_pending_output() noexcept;

}  // namespace neonvale
