// The real executable, run in a temporary folder with its own assets.
#include <gtest/gtest.h>

#include <string>

#include "app/options.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::RunResult;
using test::TempDir;

RunResult run(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
  return test::run_in(dir.path(), prefix + "'" + NEONVALE_EXE + "' " + args);
}

std::size_t entries(const std::filesystem::path& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.path().filename() != "assets";
  return n;
}

TEST(Cli, ParseErrorsPrintTheErrorThenTheUsage) {
  TempDir dir;
  const struct {
    const char* args;
    const char* message;
  } cases[] = {{"-q 1", "invalid option: -q"},
               {"-w", "invalid CLI argument count"},
               {"-w 64 -x abc", "invalid stoi argument"},
               {"-s 2147483648", "stoi argument out of range"}};
  for (const auto& c : cases) {
    const RunResult r = run(dir, c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args;
    EXPECT_EQ(r.out, "E: " + std::string(c.message) + "\n" + usage_text()) << c.args;
  }
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(Cli, HelpAndVersionAnswerAloneAndOnlyAlone) {
  TempDir dir;
  RunResult r = run(dir, "--help");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, help_text());
  EXPECT_EQ(r.err, "");
  r = run(dir, "--version");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, version_line() + "\n");
  // Beside other arguments they are unknown flags, as any other.
  r = run(dir, "--help 5");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: invalid option: --help\n" + usage_text());
  r = run(dir, "-w 64 --version");
  EXPECT_EQ(r.out, "E: invalid CLI argument count\n" + usage_text());
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(Cli, BadSettingsAndRenderIdsPrintOneLine) {
  TempDir dir;
  const struct {
    const char* args;
    const char* out;
  } cases[] = {{"-w 63", "E: Invalid render settings\n"},
               {"-h 63 -w 64", "E: Invalid render settings\n"},
               {"-a 3", "E: Invalid render settings\n"},
               {"-a 0", "E: Invalid render settings\n"},
               {"-a -2", "E: Invalid render settings\n"},
               {"-r 0", "E: invalid render id\n"},
               {"-r 2", "E: invalid render id\n"},
               {"-r 2 -a 6", "E: Invalid render settings\n"},
               {"-t -1", "E: invalid thread count\n"},
               {"-t 1025", "E: invalid thread count\n"},
               {"-t 2 -r 3", "E: invalid render id\n"}};
  for (const auto& c : cases) {
    const RunResult r = run(dir, c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args;
    EXPECT_EQ(r.out, c.out) << c.args;
  }
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(Cli, ImpossibleSizesAreRefusedAtOnce) {
  TempDir dir;
  dir.install_assets();
  // Each would run for hours or fail part-way if it were not refused before
  // the render; the CPU-time limit ends any that slips through.
  RunResult r = run(dir, "-w 60000 -h 30000 -a 1", "ulimit -t 5; ");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: Cannot allocate PNG output\n");
  r = run(dir, "-w 23170 -h 23170 -a 65536", "ulimit -t 5; ");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: render too large: 23170 x 23170 at AA scale 65536 cannot be indexed in 64 bits\n");
  r = run(dir, "-w 64 -h 64 -a 1073741824", "ulimit -t 5; ");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: render too large: 64 x 64 at AA scale 1073741824 cannot be indexed in 64 bits\n");
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(Cli, RenderThatCannotFitInMemoryIsRefused) {
  if (test::built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  TempDir dir;
  dir.install_assets();
  // About 1.2 GiB needed, under 1 GiB of address space allowed.
  const RunResult r = run(dir, "-w 6000 -h 6000 -a 1", "ulimit -v 1000000 && ");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.signal, 0);
  const std::string head = "E: not enough memory: this render needs about 1.2 GiB, ";
  EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
  EXPECT_GE(r.out.size(), 15u);
  EXPECT_EQ(r.out.substr(r.out.size() - 15), " GiB available\n") << r.out;
  EXPECT_EQ(entries(dir.path()), 0u);
}

// A tiny render needs the assets, the decoded rows of one while it loads and
// little more; the estimate counts those rather than a round allowance.
TEST(Cli, TinyRenderRunsInASmallAddressSpace) {
  if (test::built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  TempDir dir;
  dir.install_assets();
  const RunResult r = run(dir, "-w 64 -h 64 -a 2", "ulimit -v 102400 && ");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "01_LumenDrift.png"));
}

TEST(Cli, MissingAssetsFailBeforeRendering) {
  TempDir dir;
  RunResult r = run(dir, "-w 64 -h 64 -a 1");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: Cannot open PNG: ./assets/01_neonvale/robo.png\n");

  dir.install_assets();
  std::filesystem::remove(dir.path() / "assets" / "01_neonvale" / "color_grader.png");
  r = run(dir, "-w 64 -h 64 -a 1");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: Cannot open PNG: ./assets/01_neonvale/color_grader.png\n");
  EXPECT_EQ(entries(dir.path()), 0u);
}

TEST(Cli, SmallRenderWritesAnEightBitRgbPngSilently) {
  TempDir dir;
  dir.install_assets();
  {
    std::FILE* f = std::fopen((dir.path() / "01_LumenDrift.png").c_str(), "wb");
    std::fputs("an older picture", f);
    std::fclose(f);
  }
  const RunResult r = run(dir, "-w 64 -h 72 -a 1 -s 5");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  const auto chunks = test::png_chunks(test::read_file(dir.path() / "01_LumenDrift.png"));
  ASSERT_GE(chunks.size(), 3u);
  ASSERT_EQ(chunks[0].type, "IHDR");
  const std::string& h = chunks[0].data;
  EXPECT_EQ(h.substr(0, 8), std::string("\0\0\0\x40\0\0\0\x48", 8));  // 64 x 72
  EXPECT_EQ(h[8], 8);   // bits per sample
  EXPECT_EQ(h[9], 2);   // RGB
  EXPECT_EQ(h[12], 0);  // not interlaced
  bool software = false;
  for (const auto& chunk : chunks) {
    if (chunk.type == "IDAT") break;
    software |= chunk.type == "tEXt" && chunk.data == std::string("Software\0libimago2", 18);
  }
  EXPECT_TRUE(software);
  EXPECT_EQ(entries(dir.path()), 1u);  // no temporary left beside it
}

// -o puts the picture anywhere, carefully saved as ever; the working folder
// stays as it was. The picture records how to make it again, whatever the
// threads.
TEST(Cli, OutputPathAndThreadsChooseWhereAndHowNotWhat) {
  TempDir dir;
  dir.install_assets();
  TempDir elsewhere;
  std::filesystem::create_directory(elsewhere.path() / "sub");
  ASSERT_EQ(run(dir, "-w 96 -h 64 -a 2 -s 9").exit_code, 0);
  const std::string reference = test::read_file(dir.path() / "01_LumenDrift.png");
  const std::string absolute = (elsewhere.path() / "sub" / "poster.png").string();
  for (const std::string& args : {"-t 1 -o '" + absolute + "'", "-o '" + absolute + "' -t 3", std::string("-t 0 -o picture.png")}) {
    const RunResult r = run(dir, "-w 96 -h 64 -a 2 -s 9 " + args);
    EXPECT_EQ(r.exit_code, 0) << args;
    EXPECT_EQ(r.out, "") << args;
  }
  EXPECT_EQ(test::read_file(elsewhere.path() / "sub" / "poster.png"), reference);
  EXPECT_EQ(test::read_file(dir.path() / "picture.png"), reference);
  EXPECT_EQ(entries(elsewhere.path() / "sub"), 1u);  // no temporary beside it

  bool provenance = false;
  for (const auto& chunk : test::png_chunks(reference))
    provenance |= chunk.type == "tEXt" && chunk.data == "Comment" + std::string(1, '\0') + version_line() +
                                                          " -w 96 -h 64 -a 2 -s 9 -r 1";
  EXPECT_TRUE(provenance);
}

TEST(Cli, OutputIntoAFolderThatCannotTakeItIsRefusedBeforeTheRender) {
  TempDir dir;
  dir.install_assets();
  const std::string missing = (dir.path() / "no such folder" / "x.png").string();
  for (const std::string& target : {missing, std::string("assets"), std::string("./assets/")}) {
    // A render that would run for minutes: the refusal must come first.
    const RunResult r = run(dir, "-w 8000 -h 8000 -a 1 -o '" + target + "'", "ulimit -t 10; ");
    EXPECT_EQ(r.exit_code, 1) << target;
    EXPECT_EQ(r.out, "E: Cannot open output PNG: " + target + "\n");
  }
  EXPECT_EQ(entries(dir.path()), 0u);
}

// The local assets come first, exactly as without an installed copy; -d names
// any other folder, and its errors name the files in it.
TEST(Cli, AssetFolderOption) {
  TempDir dir;
  dir.install_assets();
  std::filesystem::rename(dir.path() / "assets", dir.path() / "mine");
  RunResult r = run(dir, "-w 64 -h 64 -a 1 -d mine/01_neonvale");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "01_LumenDrift.png"));
  std::filesystem::remove(dir.path() / "mine" / "01_neonvale" / "robo_emissive.png");
  r = run(dir, "-w 64 -h 64 -a 1 -d mine/01_neonvale -o second.png");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "E: Cannot open PNG: mine/01_neonvale/robo_emissive.png\n");
}

TEST(Cli, OutputThatCannotBeWrittenIsReported) {
  TempDir dir;
  dir.install_assets();
  std::filesystem::create_directory(dir.path() / "01_LumenDrift.png");
  const RunResult r = run(dir, "-w 64 -h 64 -a 1");
  EXPECT_EQ(r.exit_code, 1);
  // A folder in the way is found before anything is written.
  EXPECT_EQ(r.out, "E: Cannot open output PNG: ./01_LumenDrift.png\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "01_LumenDrift.png"));
  EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace
}  // namespace neonvale
