// The program as users install it: `cmake --install` into a prefix, and the
// Debian package unpacked into a folder. Either renders from an empty folder
// with the assets it installed, the same picture as a run beside the
// project's own assets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;

const char* const kAssetNames[] = {"robo.png", "robo_material.png", "robo_emissive.png", "color_grader.png"};
const char* const kArgs = " -w 96 -h 64 -a 2 -s 3";

fs::path build_dir() { return fs::path(NEONVALE_EXE).parent_path(); }

bool have(const char* command) { return std::system((std::string("command -v ") + command + " >/dev/null 2>&1").c_str()) == 0; }

std::string reference_picture() {
  test::TempDir dir;
  dir.install_assets();
  EXPECT_EQ(test::run_in(dir.path(), std::string("'") + NEONVALE_EXE + "'" + kArgs).exit_code, 0);
  return test::read_file(dir.path() / "01_LumenDrift.png");
}

// Checks what an install below `root` holds (program, man page, assets
// equal to the shipped ones), then renders with its program in an empty
// folder and compares with a run beside the project's assets.
void expect_installed_program_renders(const fs::path& root) {
  const fs::path program = root / "bin" / "neonvale";
  EXPECT_TRUE(fs::is_regular_file(program));
  EXPECT_TRUE(fs::is_regular_file(root / "share" / "man" / "man1" / "neonvale.1"));
  for (const char* name : kAssetNames)
    EXPECT_EQ(test::read_file(root / "share" / "neonvale" / "assets" / "01_neonvale" / name),
              test::read_file(test::source_dir() / "assets" / "01_neonvale" / name))
        << name;
  test::TempDir empty;
  const test::RunResult r = test::run_in(empty.path(), "'" + program.string() + "'" + kArgs);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::read_file(empty.path() / "01_LumenDrift.png"), reference_picture());
}

TEST(Install, RendersFromAnyFolderWithTheInstalledAssets) {
  if (!have("cmake")) GTEST_SKIP() << "cmake is not on the path";
  test::TempDir prefix;
  const test::RunResult install = test::run_in(
      prefix.path(), "cmake --install '" + build_dir().string() + "' --prefix '" + prefix.path().string() + "'");
  ASSERT_EQ(install.exit_code, 0) << install.out << install.err;
  expect_installed_program_renders(prefix.path());
}

TEST(Install, DebianPackageHoldsProgramAssetsAndManPage) {
  if (!have("cpack") || !have("dpkg-deb")) GTEST_SKIP() << "cpack or dpkg-deb is not on the path";
  test::TempDir work;
  const test::RunResult pack = test::run_in(
      work.path(), "cpack --config '" + (build_dir() / "CPackConfig.cmake").string() + "' -G DEB -B '" +
                       work.path().string() + "'");
  ASSERT_EQ(pack.exit_code, 0) << pack.out << pack.err;
  fs::path package;
  for (const auto& entry : fs::directory_iterator(work.path()))
    if (entry.path().extension() == ".deb") package = entry.path();
  ASSERT_FALSE(package.empty()) << pack.out;

  const test::RunResult depends = test::run_in(work.path(), "dpkg-deb -f '" + package.string() + "' Depends");
  EXPECT_NE(depends.out.find("libpng16-16"), std::string::npos) << depends.out;
  EXPECT_NE(depends.out.find("zlib1g"), std::string::npos) << depends.out;

  const fs::path unpacked = work.path() / "unpacked";
  const test::RunResult extract =
      test::run_in(work.path(), "dpkg-deb -x '" + package.string() + "' '" + unpacked.string() + "'");
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  expect_installed_program_renders(unpacked / "usr");
}

}  // namespace
}  // namespace neonvale
