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
#include "passes/channels.hpp"
#include "scene/stages.hpp"

namespace neonvale {

namespace {

// The four assets as float images (about 70 MB), their decode buffers while
// they load, and the program itself.
constexpr std::uint64_t kFixedAllowance = std::uint64_t(96) << 20;

// The save holds the picture's bytes interleaved and filtered, and its
// compressed stream: less than two float planes of the output size.
constexpr double kSaveOutputPlanes = 2;

// What a thread takes beside its stack: the guard page, its thread-local
// storage and the allocator's per-thread cache. Allocator arenas, 64 MiB of
// address space each, are not per thread: main keeps one for all threads.
constexpr std::uint64_t kThreadExtras = std::uint64_t(64) << 10;

}  // namespace

std::uint64_t image_peak_bytes(const RenderSettings& settings, const SceneAssets* assets) {
  const double scene_plane = double(settings.width) * double(settings.aa_scale) * double(settings.height) *
                             double(settings.aa_scale) * sizeof(float);
  const double output_plane = double(settings.width) * double(settings.height) * sizeof(float);
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

std::uint64_t estimate_peak_bytes(const RenderSettings& settings) {
  return image_peak_bytes(settings) + kFixedAllowance;
}

std::uint64_t thread_overhead_bytes() { return thread_stack_bytes() + kThreadExtras; }

std::uint64_t estimate_peak_bytes(const RenderSettings& settings, int extra_threads) {
  return estimate_peak_bytes(settings) + std::uint64_t(std::max(0, extra_threads)) * thread_overhead_bytes();
}

int affordable_threads(const RenderSettings& settings, std::optional<std::uint64_t> available, int wanted) {
  wanted = std::max(1, wanted);
  if (!available) return wanted;
  // n threads for the loops are n - 1 workers and the progress display.
  const std::uint64_t base = estimate_peak_bytes(settings);
  const std::uint64_t extra = *available > base ? (*available - base) / thread_overhead_bytes() : 0;
  return int(std::clamp<std::uint64_t>(extra, 1, std::uint64_t(wanted)));
}

void check_memory(const RenderSettings& settings, std::optional<std::uint64_t> available) {
  if (!available) return;
  const std::uint64_t needed = estimate_peak_bytes(settings);
  if (needed <= *available) return;
  // Rounded apart, so the two numbers never read as equal.
  throw std::runtime_error("not enough memory: this render needs about " + format_gib(needed, true) + " GiB, " +
                           format_gib(*available, false) + " GiB available");
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
