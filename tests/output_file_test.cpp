#include "io/output_file.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "io/png_io.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::TempDir;

std::size_t entries(const std::filesystem::path& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++n;
  }
  return n;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
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
  TempDir dir;
  const auto target = dir.path() / "out.bin";
  {
    OutputFile out(target);
    ASSERT_NE(out.file(), nullptr);
    std::fputs("new", out.file());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(entries(dir.path()), 1u);  // the temporary, beside the target
    EXPECT_TRUE(out.commit());
  }
  EXPECT_EQ(test::read_file(target), "new");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(OutputFile, UncommittedWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const auto target = dir.path() / "out.bin";
  write_text(target, "old");
  {
    OutputFile out(target);
    ASSERT_NE(out.file(), nullptr);
    std::fputs("half", out.file());
  }
  EXPECT_EQ(test::read_file(target), "old");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(OutputFile, SignalCleanupRemovesThePendingTemporary) {
  TempDir dir;
  OutputFile out(dir.path() / "out.bin");
  ASSERT_NE(out.file(), nullptr);
  EXPECT_EQ(entries(dir.path()), 1u);
  remove_pending_output();  // what the interrupt handlers do first
  EXPECT_EQ(entries(dir.path()), 0u);
  EXPECT_FALSE(out.commit());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.bin"));
}

TEST(OutputFile, NewFileGetsUsualPermissions) {
  TempDir dir;
  const mode_t mask = umask(022);
  {
    OutputFile out(dir.path() / "out.bin");
    ASSERT_TRUE(out.commit());
  }
  umask(mask);
  struct stat info {};
  ASSERT_EQ(stat((dir.path() / "out.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(OutputFile, WritesThroughSymbolicLinks) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "real");
  write_text(dir.path() / "real" / "file.bin", "old");
  std::filesystem::create_symlink("real/file.bin", dir.path() / "link.bin");
  {
    OutputFile out(dir.path() / "link.bin");
    std::fputs("new", out.file());
    ASSERT_TRUE(out.commit());
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.bin"));
  EXPECT_EQ(test::read_file(dir.path() / "real" / "file.bin"), "new");
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
  std::filesystem::create_directory(target);
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

}  // namespace
}  // namespace neonvale
