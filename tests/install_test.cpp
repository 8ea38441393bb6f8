// `cmake --install` of this build into a temporary prefix, and a render with
// the installed program and a copy of the installed assets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;

TEST(Install, PutsProgramAssetsAndManPageInPlaceAndTheyRender) {
  if (std::system("command -v cmake >/dev/null 2>&1") != 0) GTEST_SKIP() << "cmake is not on the path";
  const fs::path build = fs::path(NEONVALE_EXE).parent_path();
  test::TempDir prefix;
  const test::RunResult install =
      test::run_in(prefix.path(), "cmake --install '" + build.string() + "' --prefix '" + prefix.path().string() + "'");
  ASSERT_EQ(install.exit_code, 0) << install.out << install.err;

  const fs::path program = prefix.path() / "bin" / "neonvale";
  const fs::path assets = prefix.path() / "share" / "neonvale" / "assets";
  EXPECT_TRUE(fs::is_regular_file(program));
  EXPECT_TRUE(fs::is_regular_file(prefix.path() / "share" / "man" / "man1" / "neonvale.1"));
  for (const char* name : {"robo.png", "robo_material.png", "robo_emissive.png", "color_grader.png"}) {
    EXPECT_EQ(test::read_file(assets / "01_neonvale" / name),
              test::read_file(test::source_dir() / "assets" / "01_neonvale" / name))
        << name;
  }

  // Rendering from anywhere: a folder that holds a copy of the installed assets.
  test::TempDir work;
  fs::copy(assets, work.path() / "assets", fs::copy_options::recursive);
  const test::RunResult installed = test::run_in(work.path(), "'" + program.string() + "' -w 64 -h 64 -a 1");
  EXPECT_EQ(installed.exit_code, 0);
  EXPECT_EQ(installed.out, "");
  test::TempDir reference;
  reference.install_assets();
  ASSERT_EQ(test::run_in(reference.path(), std::string("'") + NEONVALE_EXE + "' -w 64 -h 64 -a 1").exit_code, 0);
  EXPECT_EQ(test::read_file(work.path() / "01_LumenDrift.png"),
            test::read_file(reference.path() / "01_LumenDrift.png"));
}

}  // namespace
}  // namespace neonvale
