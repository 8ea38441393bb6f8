#include "scene/render_limits.hpp"

#include "core/image_planes.hpp"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/statfs.h>

#include <climits>
#include <cmath>
#include <cstdio>
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

using test::sized;
using test::TempDir;

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
  // The amount needed is rounded up to a tenth of a GiB, the available amount down.
  const double needed = double(estimate_peak_bytes(defaults)) / double(kGiB);
  char rounded_up[16];
  std::snprintf(rounded_up, sizeof rounded_up, "%.1f", std::ceil(needed * 10.0) / 10.0);
  try {
    check_memory(defaults, std::uint64_t(0.59 * double(kGiB)));
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "not enough memory: this render needs about " + std::string(rounded_up) + " GiB, 0.5 GiB available");
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

// The assets' costs come from the files' headers: the shipped files give the
// table the estimate uses before any folder is known, and a folder of
// smaller files, read where the shipped ones are missing, costs less. More
// loading threads decode more of the largest files at once, and take the
// threads below what fits.
TEST(MemoryBudget, AssetCostsComeFromTheHeadersAndTheLoadingThreads) {
  const AssetCosts shipped = shipped_asset_costs();
  const AssetCosts read = asset_costs(test::source_dir() / "assets" / "01_neonvale");
  EXPECT_EQ(read.images, shipped.images);
  EXPECT_EQ(read.decoding, shipped.decoding);
  const SceneAssets& loaded = test::shipped_assets();
  std::uint64_t floats = 0;
  for (const Image* image : {&loaded.robo, &loaded.robo_material, &loaded.robo_emissive, &loaded.color_grader})
    floats += image->plane_size() * std::uint64_t(image->channels) * sizeof(float);
  EXPECT_EQ(shipped.images, floats);

  TempDir dir;
  save_png(Image(8, 12, 4), dir.path() / "robo.png");
  const AssetCosts small = asset_costs(dir.path());
  EXPECT_EQ(small.images, shipped.images - (1024u * 1536u - 8u * 12u) * 4u * sizeof(float));
  EXPECT_EQ(small.decoding.back(), 8u * 12u * 4u);  // 8-bit RGBA

  EXPECT_EQ(shipped.decoding_peak(1), shipped.decoding[0]);
  EXPECT_EQ(shipped.decoding_peak(2), shipped.decoding[0] + shipped.decoding[1]);
  EXPECT_EQ(shipped.decoding_peak(64), shipped.decoding_peak(4));
  const RenderSettings tiny = sized(64, 64, 1);
  const std::uint64_t one = estimate_peak_bytes(tiny, shipped, 1);
  EXPECT_EQ(estimate_peak_bytes(tiny, shipped, 2), one + shipped.decoding[1]);
  const auto needed = [&](int threads) { return estimate_peak_bytes(tiny, shipped, threads); };
  EXPECT_EQ(affordable_threads(needed, needed(3) + 3 * thread_overhead_bytes(), 8), 3);
  EXPECT_EQ(affordable_threads(needed, one, 8), 1);
}

// The storage plan at its edges. The needs are made up, so the message's
// figures are exact: 8.0 GiB in memory, 1.0 GiB with scratch files, 7.0 GiB
// on disk.
RenderNeeds made_up_needs() {
  RenderNeeds needs;
  needs.in_memory = 8 * kGiB;
  needs.with_scratch_files = kGiB;
  needs.on_disk = 7 * kGiB;
  return needs;
}

MemoryRoom room_of(std::optional<std::uint64_t> memory, std::optional<std::uint64_t> address_space,
                   std::optional<std::uint64_t> scratch) {
  return MemoryRoom{memory, address_space, scratch, "/scratch"};
}

std::string refusal(const RenderNeeds& needs, const MemoryRoom& room) {
  try {
    plan_storage(needs, room);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "accepted";
}

TEST(StoragePlan, MemoryWhileTheRenderFitsThereOrNothingIsKnown) {
  const RenderNeeds needs = made_up_needs();
  for (const MemoryRoom& room : {room_of(8 * kGiB, std::nullopt, 0), room_of(std::nullopt, std::nullopt, 0),
                                 room_of(std::nullopt, 8 * kGiB, std::nullopt), room_of(9 * kGiB, 8 * kGiB, 0)}) {
    const StoragePlan plan = plan_storage(needs, room);
    EXPECT_EQ(plan.storage, PlaneStorage::memory);
    EXPECT_EQ(plan.resident, needs.in_memory);
  }
  EXPECT_EQ(plan_storage(needs, room_of(std::nullopt, std::nullopt, 0)).room, std::nullopt);
  EXPECT_EQ(plan_storage(needs, room_of(9 * kGiB, 8 * kGiB, 0)).room, 8 * kGiB);
}

TEST(StoragePlan, ScratchFilesWhenMemoryIsShortAndTheFolderHasRoom) {
  const RenderNeeds needs = made_up_needs();
  StoragePlan plan = plan_storage(needs, room_of(8 * kGiB - 1, std::nullopt, 7 * kGiB));
  EXPECT_EQ(plan.storage, PlaneStorage::scratch_files);
  EXPECT_EQ(plan.resident, kGiB);
  EXPECT_EQ(plan.room, 8 * kGiB - 1);
  // Just enough memory for what stays there.
  EXPECT_EQ(plan_storage(needs, room_of(kGiB, std::nullopt, 7 * kGiB)).storage, PlaneStorage::scratch_files);
  // An address-space limit that holds the mappings too: the threads get
  // what it leaves beside all of them.
  plan = plan_storage(needs, room_of(2 * kGiB, 8 * kGiB + kMiB, 7 * kGiB));
  EXPECT_EQ(plan.storage, PlaneStorage::scratch_files);
  EXPECT_EQ(plan.room, kGiB + kMiB);
}

TEST(StoragePlan, RefusedWhenNeitherHasRoomNamingBothFigures) {
  const RenderNeeds needs = made_up_needs();
  EXPECT_EQ(refusal(needs, room_of(4 * kGiB, std::nullopt, 7 * kGiB - 1)),
            "not enough memory: this render needs about 8.0 GiB, 4.0 GiB available and 6.9 GiB free in /scratch");
  EXPECT_EQ(refusal(needs, room_of(4 * kGiB, std::nullopt, std::nullopt)),
            "not enough memory: this render needs about 8.0 GiB, 4.0 GiB available, and /scratch cannot hold "
            "scratch files");
  EXPECT_EQ(refusal(needs, room_of(kGiB - 1, std::nullopt, 70 * kGiB)),
            "not enough memory: this render needs about 8.0 GiB, 0.9 GiB available; with its images in scratch "
            "files in /scratch it still needs 1.0 GiB");
  // Images too small to gain from files.
  RenderNeeds tiny = needs;
  tiny.with_scratch_files = tiny.in_memory;
  EXPECT_EQ(refusal(tiny, room_of(4 * kGiB, std::nullopt, 70 * kGiB)),
            "not enough memory: this render needs about 8.0 GiB, 4.0 GiB available");
}

// An address-space limit counts mappings of files as it counts memory:
// where it is what is short, files cannot help, and the refusal is the
// plain one.
TEST(StoragePlan, NeverScratchFilesWhereTheAddressSpaceIsShort) {
  const RenderNeeds needs = made_up_needs();
  for (const auto memory : {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(2 * kGiB)}) {
    EXPECT_EQ(refusal(needs, room_of(memory, 8 * kGiB - 1, 70 * kGiB)),
              "not enough memory: this render needs about 8.0 GiB, " + std::string(memory ? "2.0" : "7.9") +
                  " GiB available");
  }
}

TEST(ScratchFolder, OnlyAWritableFolderOnDiskHasRoom) {
  TempDir dir;
  const auto room = scratch_space_bytes(dir.path());
  ASSERT_TRUE(room.has_value());
  EXPECT_GT(*room, 0u);
  EXPECT_EQ(scratch_space_bytes(dir.path() / "missing"), std::nullopt);
  std::ofstream(dir.path() / "file") << "x";
  EXPECT_EQ(scratch_space_bytes(dir.path() / "file"), std::nullopt);
  // Files in memory would take the memory they are meant to spare.
  struct statfs shm {};
  if (::statfs("/dev/shm", &shm) == 0 && shm.f_type == TMPFS_MAGIC) {
    EXPECT_EQ(scratch_space_bytes("/dev/shm"), std::nullopt);
  }
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
