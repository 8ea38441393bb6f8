#include "scene/render_limits.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <stdexcept>
#include <string>

#include "core/image_planes.hpp"
#include "core/parallel.hpp"
#include "core/system_memory.hpp"
#include "filters/box_blur.hpp"
#include "passes/channels.hpp"
#include "post/glow.hpp"
#include "scene/stages.hpp"

namespace neonvale {

namespace {

// The program's own buffers beside the images: libpng's structures and
// sample table, the threads' small loop buffers, stdio, the allocator's
// slack. The program's code and libraries are in use already, so the
// memory available does not count them.
constexpr std::uint64_t kProgramBuffers = std::uint64_t(4) << 20;

// The save holds the picture's bytes interleaved and filtered, and its
// compressed stream: less than two float planes of the output size.
constexpr double kSaveOutputPlanes = 2;

// What a thread takes beside its stack: the guard page, its thread-local
// storage and the allocator's per-thread cache. Allocator arenas, 64 MiB of
// address space each, are not per thread: main keeps one for all threads.
constexpr std::uint64_t kThreadExtras = std::uint64_t(64) << 10;

// With the images in scratch files, what the passes still hold in memory
// beside the rings of their blurs: blocks too small to go to a file (a band
// of noise, the rain's ring of rows) and their per-thread rows.
constexpr std::uint64_t kScratchWorkingSet = std::uint64_t(64) << 20;

// Disk space left free beside the scratch files, for the file system's own
// records and the picture's save.
constexpr std::uint64_t kScratchDiskSlack = std::uint64_t(64) << 20;

double output_plane_bytes(const RenderSettings& settings) {
  return double(settings.width) * double(settings.height) * sizeof(float);
}

// What a render holds in memory when its own images take `images` bytes
// there: the assets' images throughout, beside them the larger of what
// `threads` threads decode at once and those images (the decoded rows are
// gone before the render's first image is made), and the program's buffers.
std::uint64_t beside_assets(const AssetCosts& assets, int threads, std::uint64_t images) {
  return assets.images + std::max(assets.decoding_peak(threads), images) + kProgramBuffers;
}

std::string needs_text(std::uint64_t needed, std::uint64_t available) {
  // Rounded apart, so the two numbers never read as equal.
  return "not enough memory: this render needs about " + format_gib(needed, true) + " GiB, " +
         format_gib(available, false) + " GiB available";
}

}  // namespace

std::uint64_t image_peak_bytes(const RenderSettings& settings, const SceneAssets* assets) {
  const double scene_plane = double(settings.width) * double(settings.aa_scale) * double(settings.height) *
                             double(settings.aa_scale) * sizeof(float);
  const double output_plane = output_plane_bytes(settings);
  const auto bytes = [&](const PlaneCount& n) {
    return n.scene_planes(settings, assets) * scene_plane + n.output * output_plane;
  };
  double live = 0.0;
  double peak = 0.0;
  for (const Stage& stage : render_stages()) {
    peak = std::max(peak, live + bytes(stage.creates) + bytes(stage.temporary));
    live += bytes(stage.creates) - bytes(stage.releases);
  }
  peak = std::max(peak, live + kSaveOutputPlanes * output_plane);
  return std::uint64_t(std::ceil(peak));
}

std::uint64_t estimate_peak_bytes(const RenderSettings& settings, const AssetCosts& assets, int threads) {
  return beside_assets(assets, threads, image_peak_bytes(settings));
}

std::uint64_t estimate_peak_bytes(const RenderSettings& settings) {
  return estimate_peak_bytes(settings, shipped_asset_costs(), 1);
}

std::uint64_t thread_overhead_bytes() { return thread_stack_bytes() + kThreadExtras; }

std::uint64_t estimate_peak_bytes(const RenderSettings& settings, int extra_threads) {
  return estimate_peak_bytes(settings) + std::uint64_t(std::max(0, extra_threads)) * thread_overhead_bytes();
}

int affordable_threads(const RenderSettings& settings, std::optional<std::uint64_t> available, int wanted) {
  return affordable_threads(estimate_peak_bytes(settings), available, wanted);
}

int affordable_threads(std::uint64_t base, std::optional<std::uint64_t> available, int wanted) {
  wanted = std::max(1, wanted);
  if (!available) return wanted;
  // n threads for the loops are n - 1 workers and the progress display.
  const std::uint64_t extra = *available > base ? (*available - base) / thread_overhead_bytes() : 0;
  return int(std::clamp<std::uint64_t>(extra, 1, std::uint64_t(wanted)));
}

int affordable_threads(const std::function<std::uint64_t(int)>& needed, std::optional<std::uint64_t> available,
                       int wanted) {
  wanted = std::max(1, wanted);
  if (!available) return wanted;
  for (int n = wanted; n > 1; --n)
    if (affordable_threads(needed(n), available, n) == n) return n;
  return 1;
}

void check_memory(const RenderSettings& settings, std::optional<std::uint64_t> available) {
  if (!available) return;
  const std::uint64_t needed = estimate_peak_bytes(settings);
  if (needed <= *available) return;
  throw std::runtime_error(needs_text(needed, *available));
}

RenderNeeds render_needs(const RenderSettings& settings) { return render_needs(settings, shipped_asset_costs(), 1); }

RenderNeeds render_needs(const RenderSettings& settings, const AssetCosts& assets, int threads) {
  RenderNeeds needs;
  needs.in_memory = estimate_peak_bytes(settings, assets, threads);
  const std::uint64_t save = std::uint64_t(std::ceil(kSaveOutputPlanes * output_plane_bytes(settings)));
  // The rings stay in memory, as a file would write each rewrite to disk; the
  // glow's blur, the widest, holds the most.
  const int h = settings.height * settings.aa_scale;
  const std::uint64_t rings = std::uint64_t(std::ceil(BoxBlurRows::scratch_rows(h, 3, glow_radius(h)) *
                                                      double(settings.width) * settings.aa_scale * sizeof(float)));
  needs.with_scratch_files = beside_assets(assets, threads, std::max(save, rings) + kScratchWorkingSet);
  needs.on_disk = image_peak_bytes(settings) + kScratchDiskSlack;
  return needs;
}

StoragePlan plan_storage(const RenderNeeds& needs, const MemoryRoom& room) {
  const std::optional<std::uint64_t> available = room.available();
  if (!available || needs.in_memory <= *available)
    return StoragePlan{PlaneStorage::memory, needs.in_memory, available};
  const std::string short_of = needs_text(needs.in_memory, *available);
  // Scratch files cannot help under an address-space limit that is too
  // small (it counts their mappings), nor a render whose images are too small
  // to be worth a file.
  if ((room.address_space && needs.in_memory > *room.address_space) ||
      needs.with_scratch_files >= needs.in_memory)
    throw std::runtime_error(short_of);
  // From here on the memory figure is known and too small.
  const std::string folder = room.scratch_folder.string();
  if (!room.scratch) throw std::runtime_error(short_of + ", and " + folder + " cannot hold scratch files");
  if (needs.on_disk > *room.scratch)
    throw std::runtime_error(short_of + " and " + format_gib(*room.scratch, false) + " GiB free in " + folder);
  if (needs.with_scratch_files > *room.memory)
    throw std::runtime_error(short_of + "; with its images in scratch files in " + folder + " it still needs " +
                             format_gib(needs.with_scratch_files, true) + " GiB");
  // The threads take memory beside what stays there, and address space
  // beside all of the render, files included.
  std::optional<std::uint64_t> threads_room = room.memory;
  if (room.address_space)
    threads_room = std::min(*room.memory, *room.address_space - needs.in_memory + needs.with_scratch_files);
  return StoragePlan{PlaneStorage::scratch_files, needs.with_scratch_files, threads_room};
}

void check_render_size(const RenderSettings& settings) {
  const long long aa = settings.aa_scale;
  const long long scene_width = settings.width * aa;  // int times int: fits 64 bits
  const long long scene_height = settings.height * aa;
  if (scene_width < 0 || scene_height < 0) throw std::invalid_argument("Invalid render settings");
  // Sides are ints; every plane an image of the scene's size may hold must
  // be reachable by a pointer offset. Tested by division, so nothing wraps.
  const long long most_values = PTRDIFF_MAX / static_cast<long long>(sizeof(float) * kMaxPlanes);
  const bool sides_fit = scene_width <= INT_MAX && scene_height <= INT_MAX;
  if (!sides_fit || (scene_width > 0 && scene_height > most_values / scene_width))
    throw std::length_error("render too large: " + std::to_string(settings.width) + " x " +
                            std::to_string(settings.height) + " at AA scale " + std::to_string(settings.aa_scale) +
                            " cannot be indexed in 64 bits");
}

}  // namespace neonvale
