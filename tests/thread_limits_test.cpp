// The real executable under limits on its threads: it starts only the
// threads the limits leave room for, renders the same picture with them, and
// never dies part-way for want of a thread or of the memory threads take.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace neonvale {
namespace {

using test::RunResult;
using test::TempDir;

std::string exe() { return std::string("'") + NEONVALE_EXE + "'"; }

struct Picture {
  RunResult run;
  std::string bytes;
};

// Runs `prefix` + `program` + `args` in a fresh folder with the assets.
Picture render(const std::string& prefix, const std::string& args, const std::string& program = exe()) {
  TempDir dir;
  dir.install_assets();
  ::chmod(dir.path().c_str(), 0777);  // for a run as another user
  Picture p;
  p.run = test::run_in(dir.path(), prefix + program + args);
  p.bytes = test::read_file(dir.path() / "01_LumenDrift.png");
  return p;
}

// Under an address-space limit each thread's stack and allocator memory
// count. Many threads asked for under a limit that leaves little beside the
// render: each run either renders the picture or is refused up front, never
// ends in an allocation failure, and a limit with room to spare renders.
TEST(ThreadLimits, AddressSpaceLimitNeverEndsARunPartWay) {
  if (test::built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  {
    const std::string small = " -w 64 -h 64 -a 1";
    const Picture limited = render("ulimit -v 400000; OMP_NUM_THREADS=64 ", small);
    EXPECT_EQ(limited.run.exit_code, 0) << limited.run.out;
    EXPECT_EQ(limited.run.out, "");
    EXPECT_TRUE(limited.bytes == render("OMP_NUM_THREADS=1 ", small).bytes) << "another picture";
  }
  const std::string args = " -w 1280 -h 720 -a 2";
  const std::string expected = render("OMP_NUM_THREADS=1 ", args).bytes;
  const char* const refusal = "E: not enough memory: ";
  // 410 MiB is about what this render needs with one thread; 460 MiB leaves
  // too little for a 64 MiB allocator arena per thread.
  const long limits_kib[] = {410 << 10, 460 << 10, 640 << 10};
  for (int threads : {16, 64}) {
    for (long limit : limits_kib) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(limit) + " KiB");
      const Picture p = render("ulimit -v " + std::to_string(limit) + "; OMP_NUM_THREADS=" +
                                   std::to_string(threads) + " ",
                               args);
      EXPECT_EQ(p.run.signal, 0);
      EXPECT_EQ(p.run.err, "");
      if (p.run.exit_code == 0) {
        EXPECT_EQ(p.run.out, "");
        EXPECT_TRUE(p.bytes == expected) << "another picture";
      } else {
        EXPECT_EQ(p.run.out.compare(0, std::strlen(refusal), refusal), 0) << p.run.out;
        EXPECT_TRUE(p.bytes.empty());
        EXPECT_NE(limit, limits_kib[2]) << "refused with room to spare";
      }
    }
  }
}

// A process limit refuses every thread: the run renders on its main thread
// alone. Root is not bound by the limit, so as root the run is another user's.
TEST(ThreadLimits, ProcessLimitLeavesTheMainThreadToRender) {
  std::string why;
  const auto program = test::executable_for_other_user(&why);
  if (program.empty()) GTEST_SKIP() << why;
  // The leak checker of a sanitizer build needs a thread of its own at exit.
  const std::string no_leak_check =
      test::built_with_address_sanitizer() ? "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " : "";
  const std::string args = " -w 320 -h 180 -a 1";
  const Picture limited = render(no_leak_check + test::as_other_user() + "prlimit --nproc=1 '" + program.string() +
                                     "' -t 8",
                                 args, "");
  EXPECT_EQ(limited.run.exit_code, 0) << limited.run.out << limited.run.err;
  EXPECT_EQ(limited.run.out, "");
  EXPECT_EQ(limited.run.err, "");
  EXPECT_TRUE(limited.bytes == render("", args).bytes) << "another picture";
}

}  // namespace
}  // namespace neonvale
