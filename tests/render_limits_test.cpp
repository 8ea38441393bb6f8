#include "scene/render_limits.hpp"

#include "core/image_planes.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include <fstream>
#include <stdexcept>
#include <string>

#include "io/png_io.hpp"
#include "test_support.hpp"
#include "core/parallel.hpp"
#include "core/plane_buffer.hpp"
#include "core/system_memory.hpp"

namespace neonvale {
namespace {

using test::TempDir;

RenderSettings sized(int width, int height, int aa_scale) {
  RenderSettings s;
  s.width = width;
  s.height = height;
  s.aa_scale = aa_scale;
  return s;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;
constexpr std::uint64_t kGiB = std::uint64_t(1) << 30;

// Posters far beyond 2^31 samples pass; only sides beyond an int and images
// whose bytes a 64-bit offset cannot reach are refused. Nothing is allocated.
TEST(RenderSize, RefusesOnlyWhatCannotBeIndexed) {
  EXPECT_NO_THROW(check_render_size(sized(64, 64, 1)));
  EXPECT_NO_THROW(check_render_size(sized(16384, 16384, 1)));   // 12 planes of it passed 2^31
  EXPECT_NO_THROW(check_render_size(sized(7200, 10800, 2)));    // 311 M samples
  EXPECT_NO_THROW(check_render_size(sized(23170, 23170, 8)));   // 34 G samples
  EXPECT_NO_THROW(check_render_size(sized(32767, 1, 65536)));  // a side just inside an int
  EXPECT_THROW(check_render_size(sized(32768, 64, 65536)), std::length_error);  // a side of 2^31
  EXPECT_THROW(check_render_size(sized(64, 64, 1 << 30)), std::length_error);
  // 2^61 / 12 values is the most a plane may hold: a side of 2^31 - 1 and
  // one of about 2^26 reach it.
  const long long most = PTRDIFF_MAX / static_cast<long long>(sizeof(float) * kMaxPlanes);
  const int tall = int(most / INT_MAX);
  EXPECT_NO_THROW(check_render_size(sized(INT_MAX, tall, 1)));
  EXPECT_THROW(check_render_size(sized(INT_MAX, tall + 1, 1)), std::length_error);
  EXPECT_THROW(check_render_size(sized(-2147483647 - 1, -2147483647 - 1, 1 << 30)), std::invalid_argument);
  try {
    check_render_size(sized(64, 64, 1 << 30));
    ADD_FAILURE() << "accepted";
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()), "render too large: 64 x 64 at AA scale 1073741824 cannot be indexed in 64 bits");
  }
}

TEST(RenderSize, OutputSideLimitIsThePngWriters) {
  EXPECT_NO_THROW(check_output_size(kMaxPngSide, kMaxPngSide));
  for (const RenderSettings& c : {sized(kMaxPngSide + 1, 64, 1), sized(64, kMaxPngSide + 1, 1)}) {
    try {
      check_output_size(c.width, c.height);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot allocate PNG output");
    }
  }
}

// The estimate behind the "not enough memory" refusal is added up from the
// stage table. A real render's high-water mark of image storage must stay
// within it, and it must not overstate the need by more than a tenth. The
// steps' planes and scratch rows depend on the AA scale (the blur radii grow
// with it, and the output planes are a quarter, a sixteenth or all of a scene
// plane), so each scale is measured, with scenes of the same size; the
// figure's terms come from the assets given, or the shipped ones.
class MemoryBudgetAtScale : public ::testing::TestWithParam<int> {};

TEST_P(MemoryBudgetAtScale, EstimateCoversTheMeasuredPeakOfARender) {
  const int aa = GetParam();
  const RenderSettings settings = sized(1024 / aa, 512 / aa, aa);
  const SceneAssets& assets = test::shipped_assets();
  release_kept_planes();
  reset_plane_high_water();
  const PlaneMemory before = plane_memory();
  render_scene(settings, assets);
  const std::uint64_t measured = plane_memory().high_water - before.live;
  for (const std::uint64_t estimate : {image_peak_bytes(settings, &assets), image_peak_bytes(settings)}) {
    EXPECT_GE(estimate, measured);
    EXPECT_LE(double(estimate), 1.1 * double(measured));
  }
  EXPECT_GT(estimate_peak_bytes(settings), image_peak_bytes(settings));  // and the assets' allowance
}

INSTANTIATE_TEST_SUITE_P(Scales, MemoryBudgetAtScale, ::testing::Values(1, 2, 4),
                         [](const ::testing::TestParamInfo<int>& info) { return "aa" + std::to_string(info.param); });

TEST(MemoryBudget, RefusesWhatDoesNotFit) {
  const RenderSettings defaults;
  EXPECT_NO_THROW(check_memory(defaults, std::nullopt));
  EXPECT_NO_THROW(check_memory(defaults, estimate_peak_bytes(defaults)));
  try {
    check_memory(defaults, std::uint64_t(1.0 * double(kGiB)) + 1);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    // 1.05 GiB needed: rounded up, the available amount rounded down.
    EXPECT_EQ(std::string(e.what()), "not enough memory: this render needs about 1.1 GiB, 1.0 GiB available");
  }
}

// Each thread beside the main one (the workers and the progress display)
// takes its overhead from what is left beside the render.
TEST(MemoryBudget, ThreadsAreLoweredToWhatFitsBesideTheRender) {
  const RenderSettings settings = sized(1280, 720, 2);
  const std::uint64_t base = estimate_peak_bytes(settings);
  const std::uint64_t per_thread = thread_overhead_bytes();
  EXPECT_GE(per_thread, thread_stack_bytes());
  EXPECT_EQ(affordable_threads(settings, std::nullopt, 16), 16);
  EXPECT_EQ(affordable_threads(settings, base + 100 * per_thread, 16), 16);
  EXPECT_EQ(affordable_threads(settings, base + 4 * per_thread + per_thread / 2, 16), 4);
  EXPECT_EQ(estimate_peak_bytes(settings, 4), base + 4 * per_thread);
  // Not even room for the display: the main thread renders alone, and
  // whether it fits at all is check_memory's to say.
  EXPECT_EQ(affordable_threads(settings, base, 16), 1);
  EXPECT_EQ(affordable_threads(settings, base / 2, 16), 1);
  EXPECT_EQ(affordable_threads(settings, base + 100 * per_thread, 0), 1);
}

TEST(MemoryBudget, FormatsTenthsOfGiB) {
  EXPECT_EQ(format_gib(0, true), "0.0");
  EXPECT_EQ(format_gib(kGiB, true), "1.0");
  EXPECT_EQ(format_gib(kGiB, false), "1.0");
  EXPECT_EQ(format_gib(kGiB + kMiB, true), "1.1");
  EXPECT_EQ(format_gib(2 * kGiB - kMiB, false), "1.9");
}

TEST(MemoryBudget, ReadsMemAvailable) {
  EXPECT_EQ(parse_mem_available("MemTotal:       24000000 kB\nMemFree:  1 kB\nMemAvailable:   3145728 kB\n"),
            std::uint64_t(3) * kGiB);
  EXPECT_EQ(parse_mem_available("MemTotal: 5 kB\n"), std::nullopt);
}

TEST(MemoryBudget, UnifiedCgroupLimitOfAnEnclosingGroupCounts) {
  TempDir root;
  write_text(root.path() / "a" / "b" / "memory.max", "max\n");
  write_text(root.path() / "a" / "b" / "memory.current", "100\n");
  write_text(root.path() / "a" / "memory.max", "1073741824\n");
  write_text(root.path() / "a" / "memory.current", "536870912\n");
  write_text(root.path() / "a" / "memory.stat", "anon 1\ninactive_file 104857600\nactive_file 7\n");
  EXPECT_EQ(cgroup_headroom("0::/a/b\n", root.path()), kGiB - (512 - 100) * kMiB);
  EXPECT_EQ(cgroup_headroom("0::/\n", root.path()), std::nullopt);
}

TEST(MemoryBudget, VersionOneMemoryGroupCounts) {
  TempDir root;
  const auto group = root.path() / "memory" / "jobs" / "x";
  write_text(group / "memory.limit_in_bytes", "2147483648\n");
  write_text(group / "memory.usage_in_bytes", "1073741824\n");
  write_text(root.path() / "memory" / "memory.limit_in_bytes", "9223372036854771712\n");  // no limit
  EXPECT_EQ(cgroup_headroom("5:devices:/jobs/x\n4:memory:/jobs/x\n0::/\n", root.path()), kGiB);
  EXPECT_EQ(cgroup_headroom("3:cpu,cpuacct:/jobs/x\n", root.path()), std::nullopt);
}

TEST(MemoryBudget, ThisMachineReportsSomething) {
  const auto available = available_memory_bytes();
  ASSERT_TRUE(available.has_value());
  EXPECT_GT(*available, 16 * kMiB);
}

}  // namespace
}  // namespace neonvale
