#include "scene/render_limits.hpp"

#include <gtest/gtest.h>

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

TEST(RenderSize, RefusesProductsThatOverflow32Bits) {
  EXPECT_THROW(check_render_size(sized(64, 64, 1 << 30)), std::length_error);     // width x scale
  EXPECT_THROW(check_render_size(sized(20000, 20000, 4)), std::length_error);     // pixel count
  EXPECT_THROW(check_render_size(sized(16384, 16384, 1)), std::length_error);     // 12 planes of it
  EXPECT_THROW(check_render_size(sized(60000, 30000, 1)), std::length_error);
  EXPECT_NO_THROW(check_render_size(sized(64, 64, 1)));
  EXPECT_THROW(check_render_size(sized(-2147483647 - 1, -2147483647 - 1, 1 << 30)), std::invalid_argument);
  try {
    check_render_size(sized(20000, 20000, 4));
  } catch (const std::length_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "render too large: 20000 x 20000 at AA scale 4 exceeds the 2^31 - 1 samples an image can hold");
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
// within it, and it must not overstate the need by more than a tenth, at
// every AA scale; the figure's terms come from the assets given, or the
// shipped ones.
TEST(MemoryBudget, EstimateCoversTheMeasuredPeakOfARender) {
  const SceneAssets& assets = test::shipped_assets();
  for (const RenderSettings& settings : {sized(512, 256, 2), sized(640, 360, 1), sized(256, 144, 4)}) {
    SCOPED_TRACE(testing::Message() << settings.width << " x " << settings.height << " AA " << settings.aa_scale);
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
}

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
