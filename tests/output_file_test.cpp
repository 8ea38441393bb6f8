#include "io/output_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "io/png_io.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Temporary = OutputFile::Temporary;

constexpr Temporary kBothKinds[] = {Temporary::unnamed_where_possible, Temporary::named};

const char* kind_name(Temporary kind) { return kind == Temporary::named ? "named temporary" : "unnamed temporary"; }

std::size_t entries(const fs::path& folder) {
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    (void)entry;
    ++n;
  }
  return n;
}

void write_text(const fs::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

struct stat status_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// A picture that compresses badly, so its file is far larger than a few kB.
Image noisy(int side) {
  Image image(side, side, 3);
  std::uint32_t state = 12345;
  for (float& v : image.data) {
    state = state * 1664525u + 1013904223u;
    v = float(state >> 24) / 255.0f;
  }
  return image;
}

TEST(OutputFile, TargetAppearsOnlyOnCommit) {
  for (Temporary kind : kBothKinds) {
    SCOPED_TRACE(kind_name(kind));
    TempDir dir;
    const auto target = dir.path() / "out.bin";
    {
      OutputFile out(target, kind);
      ASSERT_TRUE(out.is_open());
      std::fputs("new", out.file());
      EXPECT_FALSE(fs::exists(target));
      // A named temporary sits beside the target; an unnamed one is nowhere.
      EXPECT_EQ(entries(dir.path()), kind == Temporary::named ? 1u : 0u);
      EXPECT_TRUE(out.commit());
    }
    EXPECT_EQ(test::read_file(target), "new");
    EXPECT_EQ(entries(dir.path()), 1u);
  }
}

TEST(OutputFile, UncommittedWriteLeavesTheOldFileAndNoTemporary) {
  for (Temporary kind : kBothKinds) {
    SCOPED_TRACE(kind_name(kind));
    TempDir dir;
    const auto target = dir.path() / "out.bin";
    write_text(target, "old");
    {
      OutputFile out(target, kind);
      ASSERT_TRUE(out.is_open());
      std::fputs("half", out.file());
    }
    EXPECT_EQ(test::read_file(target), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
  }
}

TEST(OutputFile, SignalCleanupRemovesThePendingTemporary) {
  TempDir dir;
  OutputFile out(dir.path() / "out.bin", Temporary::named);
  ASSERT_TRUE(out.is_open());
  EXPECT_EQ(entries(dir.path()), 1u);
  remove_pending_output();  // what the interrupt handlers do first
  EXPECT_EQ(entries(dir.path()), 0u);
  EXPECT_FALSE(out.commit());
  EXPECT_FALSE(fs::exists(dir.path() / "out.bin"));
}

// A new file gets what the umask leaves of 0666; a replaced one keeps its
// permission bits, whatever the umask.
TEST(OutputFile, NewFileGetsUsualPermissionsAndAReplacedOneKeepsItsOwn) {
  const mode_t mask = ::umask(022);
  for (Temporary kind : kBothKinds) {
    SCOPED_TRACE(kind_name(kind));
    TempDir dir;
    {
      OutputFile out(dir.path() / "new.bin", kind);
      ASSERT_TRUE(out.commit());
    }
    EXPECT_EQ(status_of(dir.path() / "new.bin").st_mode & 07777, 0644u);
    for (mode_t mode : {0600u, 0640u, 0755u, 0604u}) {
      const auto target = dir.path() / "kept.bin";
      write_text(target, "old");
      ASSERT_EQ(::chmod(target.c_str(), mode), 0);
      OutputFile out(target, kind);
      ASSERT_TRUE(out.commit());
      EXPECT_EQ(status_of(target).st_mode & 07777, mode) << std::oct << mode;
    }
  }
  ::umask(mask);
}

TEST(OutputFile, ReplacedFileKeepsItsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  TempDir dir;
  const auto target = dir.path() / "theirs.bin";
  write_text(target, "old");
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  for (Temporary kind : kBothKinds) {
    SCOPED_TRACE(kind_name(kind));
    OutputFile out(target, kind);
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(status_of(target).st_uid, 65534u);
    EXPECT_EQ(status_of(target).st_gid, 65534u);
  }
}

// Relative link targets count from the link's own folder, through a chain
// of links; the links stay links and the file at the end is replaced.
TEST(OutputFile, FollowsAChainOfLinksToTheFileAtItsEnd) {
  TempDir dir;
  fs::create_directories(dir.path() / "a" / "b");
  fs::create_directory(dir.path() / "real");
  write_text(dir.path() / "real" / "file.bin", "old");
  fs::create_symlink("b/second.bin", dir.path() / "a" / "first.bin");
  fs::create_symlink("../../real/file.bin", dir.path() / "a" / "b" / "second.bin");
  fs::create_symlink("a/first.bin", dir.path() / "link.bin");
  {
    OutputFile out(dir.path() / "link.bin");
    ASSERT_TRUE(out.is_open());
    std::fputs("new", out.file());
    ASSERT_TRUE(out.commit());
  }
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bin"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "a" / "first.bin"));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "a" / "b" / "second.bin"));
  EXPECT_EQ(test::read_file(dir.path() / "real" / "file.bin"), "new");
  EXPECT_EQ(entries(dir.path() / "real"), 1u);
}

TEST(OutputFile, LoopOfLinksCannotBeOpened) {
  TempDir dir;
  fs::create_symlink("two.bin", dir.path() / "one.bin");
  fs::create_symlink("one.bin", dir.path() / "two.bin");
  fs::create_symlink("self.bin", dir.path() / "self.bin");
  for (const char* name : {"one.bin", "self.bin"}) {
    OutputFile out(dir.path() / name);
    EXPECT_FALSE(out.is_open()) << name;
    EXPECT_FALSE(out.commit()) << name;
  }
  EXPECT_EQ(entries(dir.path()), 3u);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "self.bin"));
}

// A run killed outright leaves its named temporary; the next save of the
// same target removes it, because the lock its process held went with it.
TEST(OutputFile, TemporaryOfAKilledProcessIsRemovedByTheNextSave) {
  TempDir dir;
  const auto target = dir.path() / "out.bin";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OutputFile out(target, Temporary::named);
    std::fputs("half", out.file());
    std::fflush(out.file());
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(test::leftover_temporaries(dir.path()).size(), 1u);

  OutputFile out(target);
  EXPECT_EQ(test::leftover_temporaries(dir.path()), std::vector<std::string>{});
  EXPECT_TRUE(out.commit());
}

// Only names of this target's temporaries that no living save holds are
// removed: not one in use (locked here as its save would lock it), not a
// link, not a name that merely looks similar.
TEST(OutputFile, RemovesOnlyAbandonedTemporariesOfItsOwnTarget) {
  TempDir dir;
  const auto in = [&](const char* name) { return dir.path() / name; };
  const std::vector<std::string> kept = {".out.bin.tmp-InUse1", ".out.bin.tmp-Link12", ".out.bin.tmp-Short",
                                         ".out.bin.tmp-TooLong", ".other.bin.tmp-Abc123", ".out.bin.tmp-a_b-c."};
  for (const std::string& name : kept)
    if (name != ".out.bin.tmp-Link12") write_text(dir.path() / name, "kept");
  write_text(in("abandoned-target"), "kept");
  fs::create_symlink("abandoned-target", in(".out.bin.tmp-Link12"));
  write_text(in(".out.bin.tmp-Abc123"), "abandoned");
  write_text(in(".out.bin.tmp-zZ09aA"), "abandoned");
  const int in_use = ::open(in(".out.bin.tmp-InUse1").c_str(), O_RDONLY);
  ASSERT_GE(in_use, 0);
  ASSERT_EQ(::flock(in_use, LOCK_EX), 0);

  { OutputFile out(in("out.bin")); }
  ::close(in_use);
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(fs::symlink_status(dir.path() / name))) << name;
  EXPECT_FALSE(fs::exists(in(".out.bin.tmp-Abc123")));
  EXPECT_FALSE(fs::exists(in(".out.bin.tmp-zZ09aA")));
  EXPECT_EQ(test::read_file(in("abandoned-target")), "kept");
}

// A second save of the same target while the first is still writing leaves
// the first one's temporary alone.
TEST(OutputFile, ATemporaryInUseIsNotTakenForAbandoned) {
  TempDir dir;
  const auto target = dir.path() / "out.bin";
  OutputFile first(target, Temporary::named);
  ASSERT_TRUE(first.is_open());
  std::fputs("first", first.file());
  {
    OutputFile second(target, Temporary::named);
    ASSERT_TRUE(second.is_open());
    EXPECT_EQ(test::leftover_temporaries(dir.path()).size(), 2u);
  }
  EXPECT_TRUE(first.commit());
  EXPECT_EQ(test::read_file(target), "first");
}

TEST(AtomicSave, FailedWriteKeepsTheOldFile) {
  TempDir dir;
  const auto target = dir.path() / "picture.png";
  write_text(target, "previous picture");

  // Writes beyond 4 kB fail with EFBIG instead of raising SIGXFSZ.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    save_png(noisy(128), target);
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(message, "Cannot write output PNG: " + target.string());
  EXPECT_EQ(test::read_file(target), "previous picture");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicSave, SuccessfulSaveReplacesTheOldFile) {
  TempDir dir;
  const auto target = dir.path() / "picture.png";
  write_text(target, "previous picture");
  save_png(noisy(8), target);
  EXPECT_EQ(load_png(target).width, 8);
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(AtomicSave, TargetThatCannotBeReplacedFailsCleanly) {
  TempDir dir;
  const auto target = dir.path() / "picture.png";
  fs::create_directory(target);
  write_text(target / "keep.txt", "kept");
  std::string message;
  try {
    save_png(noisy(8), target);
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "Cannot open output PNG: " + target.string());
  EXPECT_EQ(test::read_file(target / "keep.txt"), "kept");
  EXPECT_EQ(entries(dir.path()), 1u);
}

// An output opened first and written later, as the program does around its
// render.
TEST(AtomicSave, OpenedOutputIsWrittenLater) {
  TempDir dir;
  const auto target = dir.path() / "picture.png";
  write_text(target, "previous picture");
  const std::unique_ptr<OutputFile> out = open_png_output(target);
  EXPECT_EQ(test::read_file(target), "previous picture");
  save_png(noisy(8), *out);
  EXPECT_EQ(load_png(target).width, 8);
  EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace
}  // namespace neonvale
