// Scratch files, where images live when a render does not fit in memory: the
// same stages and picture as from memory at any thread count, nothing left
// on disk however the run ends, and a full disk reported as an error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/signals.hpp"
#include "core/plane_buffer.hpp"
#include "scene/scene.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::sized;
using test::TempDir;

// Every block, however small, goes to a file, so a small render exercises
// the files as a poster does.
ScratchFiles every_block_in(const std::filesystem::path& folder,
                            ScratchFiles::Names names = ScratchFiles::Names::unnamed_where_possible) {
  return ScratchFiles{folder.string(), names, 1};
}

// Blocks go to files for the life of the object, then to memory again.
class InScratchFiles {
 public:
  explicit InScratchFiles(const ScratchFiles& files) { store_planes_in_scratch_files(files); }
  ~InScratchFiles() { store_planes_in_memory(); }
  InScratchFiles(const InScratchFiles&) = delete;
  InScratchFiles& operator=(const InScratchFiles&) = delete;
};

// The process's mappings of files in `folder`, named or not.
int mappings_in(const std::filesystem::path& folder) {
  std::ifstream maps("/proc/self/maps");
  const std::string path = " " + folder.string() + "/";
  int count = 0;
  for (std::string line; std::getline(maps, line);)
    if (line.find(path) != std::string::npos) ++count;
  return count;
}

std::size_t entries(const std::filesystem::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

std::uint64_t fnv1a(const float* values, std::size_t count) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(values);
  for (std::size_t i = 0; i < count * sizeof(float); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

struct Recorded {
  std::string stages;  // a line per stage: a hash per plane the renderer holds
  Image picture;
  int most_mappings = 0;  // of files in the folder given, at the end of any stage
};

Recorded record_render(const RenderSettings& settings, int threads, const std::filesystem::path& folder = {}) {
  test::Threads use(threads);
  Recorded record;
  RenderObserver observer;
  observer.stage_end = [&](const char* stage, const ImagePlanes& planes) {
    record.stages += stage;
    for (int c = 0; c < planes.channels; ++c)
      record.stages += planes[c] ? " " + std::to_string(fnv1a(planes[c], planes.plane_size())) : " none";
    record.stages += "\n";
    if (!folder.empty()) record.most_mappings = std::max(record.most_mappings, mappings_in(folder));
  };
  record.picture = render_scene(settings, test::shipped_assets(), &observer);
  return record;
}

TEST(ScratchFiles, EveryStageAndThePictureAreTheSameAsFromMemory) {
  const RenderSettings settings = sized(160, 90, 2);
  const Recorded memory = record_render(settings, 1);
  TempDir folder;
  for (int threads : {1, 2, 7}) {
    InScratchFiles files(every_block_in(folder.path()));
    const Recorded scratch = record_render(settings, threads, folder.path());
    EXPECT_GT(scratch.most_mappings, 3) << "the planes were not in files";
    EXPECT_EQ(scratch.stages, memory.stages) << threads << " threads";
    EXPECT_TRUE(scratch.picture.data == memory.picture.data) << threads << " threads";
  }
  release_kept_planes();  // and waits for released files to be unmapped
  EXPECT_EQ(mappings_in(folder.path()), 0) << "files outlived their images";
  EXPECT_EQ(plane_memory().in_files, 0u);
  EXPECT_EQ(entries(folder.path()), 0u);
}

// Renders with every block in files in `folder` and is killed outright at
// the start of the reflections, with the planes of five steps in files.
// Exits with 3 instead if no file of the folder is mapped then.
[[noreturn]] void render_until_killed(const std::filesystem::path& folder, ScratchFiles::Names names) {
  store_planes_in_scratch_files(every_block_in(folder, names));
  RenderObserver observer;
  observer.stage_begin = [&](const char* stage, const StepProgress&) {
    if (std::strcmp(stage, "reflections") != 0) return;
    if (mappings_in(folder) == 0) std::_Exit(3);
    ::kill(::getpid(), SIGKILL);
  };
  test::Threads use(2);
  render_scene(sized(320, 180, 2), test::shipped_assets(), &observer);
  std::_Exit(4);
}

// A process killed outright runs no code of its own: unnamed files vanish
// with it, and the fallback's names are gone from the moment the files
// were made. The child is a fork of this process (so it renders into the
// folder made here), taken while no other thread of it runs a loop.
TEST(ScratchFiles, NothingSurvivesARenderKilledHalfway) {
  GTEST_FLAG_SET(death_test_style, "fast");
  for (const auto names : {ScratchFiles::Names::unnamed_where_possible, ScratchFiles::Names::named}) {
    TempDir folder;
    ASSERT_EQ(entries(folder.path()), 0u);
    EXPECT_EXIT(render_until_killed(folder.path(), names), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(entries(folder.path()), 0u);
  }
}

// A full disk, simulated by a file-size limit: a block whose disk blocks
// cannot be reserved is an error that names the folder, and the render that
// wanted it ends with that error, its blocks released and the folder empty.
TEST(ScratchFiles, AFullDiskIsAnErrorNotAFault) {
  const SceneAssets& assets = test::shipped_assets();  // loaded before the limit
  TempDir folder;
  const PlaneMemory before = plane_memory();
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &previous);  // as the program does: a failed call, not a killed process
  rlimit tight = saved;
  tight.rlim_cur = 256 << 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  std::string block_error, render_error;
  {
    InScratchFiles files(every_block_in(folder.path()));
    try {
      PlaneBuffer block(std::size_t(1) << 20);
    } catch (const std::runtime_error& e) {
      block_error = e.what();
    }
    try {
      render_scene(sized(160, 90, 2), assets);
    } catch (const std::runtime_error& e) {
      render_error = e.what();
    }
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  const std::string expected = "Cannot reserve scratch space in " + folder.path().string() + ": File too large";
  EXPECT_EQ(block_error, expected);
  EXPECT_EQ(render_error, expected);
  EXPECT_EQ(plane_memory().live, before.live);
  EXPECT_EQ(plane_memory().in_files, before.in_files);
  EXPECT_EQ(entries(folder.path()), 0u);
}

// Where a file system could not reserve a file's blocks, a full disk shows
// as a fault of the page being written, as a page past the end of a file
// cut short does. With scratch faults reported that ends the program with
// an error line and status 1, not a crash. Standard output goes to a file
// of the folder, read afterwards.
[[noreturn]] void fault_on_a_scratch_page(const std::filesystem::path& folder) {
  ::dup2(::open((folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
  report_scratch_faults(folder);
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
  if (fd < 0 || ::ftruncate(fd, 8192) != 0) std::_Exit(3);
  void* block = ::mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (block == MAP_FAILED || ::ftruncate(fd, 0) != 0) std::_Exit(3);
  *static_cast<volatile char*>(block) = 1;
  std::_Exit(4);
}

TEST(ScratchFiles, AFaultingScratchPageIsAnErrorLine) {
  GTEST_FLAG_SET(death_test_style, "fast");  // a fork, which writes in this test's folder
  TempDir folder;
  EXPECT_EXIT(fault_on_a_scratch_page(folder.path()), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(test::read_file(folder.path() / "out"),
            "E: Cannot write scratch file in " + folder.path().string() + ": the disk is full or failing\n");
}

}  // namespace
}  // namespace neonvale
