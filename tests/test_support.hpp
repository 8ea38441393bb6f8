#pragma once
// Helpers shared by the tests: temporary folders and running the executable.
#include <filesystem>
#include <string>
#include <vector>

#include "core/parallel.hpp"
#include "scene/scene.hpp"

namespace neonvale::test {

// A fresh empty folder, removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

  // Copies the shipped assets into <this>/assets/01_neonvale.
  void install_assets() const;

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int exit_code = -1;       // -1 when the process did not exit normally
  int signal = 0;           // the signal that ended it, if any
  std::string out;          // standard output
  std::string err;          // standard error
  // The most memory any child of this process has held so far (this run's
  // programs included), in KiB. Each test runs in a process of its own.
  long max_rss_kib = 0;
};

// Render settings of this size and AA scale, the others the defaults.
inline RenderSettings sized(int width, int height, int aa_scale) {
  RenderSettings s;
  s.width = width;
  s.height = height;
  s.aa_scale = aa_scale;
  return s;
}

// Sets the thread count of the parallel loops for the life of the object.
class Threads {
 public:
  explicit Threads(int n) : saved_(thread_count()) { set_thread_count(n); }
  ~Threads() { set_thread_count(saved_); }
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;

 private:
  int saved_;
};

// Runs `command` (a shell command line) in `folder`, capturing both streams.
RunResult run_in(const std::filesystem::path& folder, const std::string& command);

std::filesystem::path source_dir();

// Permission checks do not bind root. As root, a command is started without
// any capabilities, which makes root's file access follow the mode bits like
// anyone's: sets `prefix` to the words that do that ("" when not root).
// False when that is not possible here (checked with a file in `folder`).
bool unprivileged_prefix(const std::filesystem::path& folder, std::string* prefix);

// As root: the words that run a command as the user nobody (65534), whom a
// process limit binds; "" when not root.
std::string as_other_user();
// The executable, copied where the user of as_other_user() may run it: the
// build folder may lie in a private home folder. Empty, with the reason in
// `why`, when no such copy can be made or run.
std::filesystem::path executable_for_other_user(std::string* why);

// The names in `folder` that look like a save's temporary (".<name>.tmp-…").
std::vector<std::string> leftover_temporaries(const std::filesystem::path& folder);

// The shipped assets, loaded once from the source tree.
const SceneAssets& shipped_assets();

// Whether this build carries AddressSanitizer (whose leak checker needs a
// thread of its own at exit) or ThreadSanitizer.
inline bool built_with_address_sanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}
inline bool built_with_thread_sanitizer() {
#if defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  return true;
#endif
#endif
  return false;
}
// Both reserve shadow memory for the whole address space at start, so an
// address-space limit cannot hold their runtime: tests that set one skip.
inline bool built_with_sanitizer() { return built_with_address_sanitizer() || built_with_thread_sanitizer(); }
std::string read_file(const std::filesystem::path& path);

// The chunks of a PNG file in file order, read from its bytes without libpng;
// empty when the signature is wrong or a chunk runs past the end.
struct PngChunk {
  std::string type;
  std::string data;
};
std::vector<PngChunk> png_chunks(const std::string& file_bytes);

}  // namespace neonvale::test
