#pragma once
// Up-front refusals of render settings that cannot succeed, so a run fails at
// once with a message instead of overflowing or being killed for memory.
#include <cstdint>
#include <functional>
#include <optional>

#include "core/system_memory.hpp"
#include "scene/scene.hpp"

namespace neonvale {

// Bytes of images a render holds at its peak: the largest sum of images alive
// at once over the steps of the stage table, and the save's buffers. Expects
// sizes that passed check_render_size's overflow test. The terms that depend
// on the assets (the robot figure's size and coverage) are taken from
// `assets`, or from the shipped ones when it is null.
std::uint64_t image_peak_bytes(const RenderSettings& settings, const SceneAssets* assets = nullptr);
// What a render holds at its peak: the assets' images throughout, beside
// them the larger of what `threads` threads decode at once while they load and
// the render's own images (image_peak_bytes), and the program's buffers.
std::uint64_t estimate_peak_bytes(const RenderSettings& settings, const AssetCosts& assets, int threads);
// The same with the shipped assets, loaded by one thread.
std::uint64_t estimate_peak_bytes(const RenderSettings& settings);

// The memory and address space each thread beside the main one takes (a
// loop worker or the progress display): its stack and what the C library
// keeps per thread, on the condition that all threads share one allocator
// arena.
std::uint64_t thread_overhead_bytes();
// estimate_peak_bytes with `extra_threads` threads beside the main one.
std::uint64_t estimate_peak_bytes(const RenderSettings& settings, int extra_threads);
// The threads a render's loops may use so that its estimate, counting the
// workers and the progress display, fits `available`: `wanted` when all fit,
// fewer when not, and at least 1 (the main thread alone, whose need is
// check_memory's). An unknown amount allows `wanted`.
int affordable_threads(const RenderSettings& settings, std::optional<std::uint64_t> available, int wanted);
// The same for a render that needs `needed` bytes besides its threads.
int affordable_threads(std::uint64_t needed, std::optional<std::uint64_t> available, int wanted);
// The same for a render whose need besides its threads depends on their
// number: the most threads n up to `wanted` for which needed(n) and the
// threads fit, else 1.
int affordable_threads(const std::function<std::uint64_t(int)>& needed, std::optional<std::uint64_t> available,
                       int wanted);

// Throws std::runtime_error("not enough memory: this render needs about
// X GiB, Y GiB available") when the estimate exceeds `available`; an unknown
// amount passes.
void check_memory(const RenderSettings& settings, std::optional<std::uint64_t> available);

// What a render needs: in memory; in memory when its images are in scratch
// files (the assets, the save's buffers, the blurs' rings, the program and
// the small buffers of the passes); and on disk then.
struct RenderNeeds {
  std::uint64_t in_memory = 0;
  std::uint64_t with_scratch_files = 0;
  std::uint64_t on_disk = 0;
};
// With the assets' costs `assets` and `threads` threads; by default the
// shipped assets and one thread.
RenderNeeds render_needs(const RenderSettings& settings, const AssetCosts& assets, int threads);
RenderNeeds render_needs(const RenderSettings& settings);

// Where a render's images live.
enum class PlaneStorage { memory, scratch_files };

struct StoragePlan {
  PlaneStorage storage = PlaneStorage::memory;
  // What must stay in memory with that storage, and the room the threads
  // must fit in beside it (affordable_threads); empty when unknown.
  std::uint64_t resident = 0;
  std::optional<std::uint64_t> room;
};

// Chooses the storage for a render that needs `needs` in the room `room`
// has: memory when the render fits there (or nothing is known), else scratch
// files when the scratch folder has room for the images and memory for the
// rest. An address-space limit counts the files' mappings as memory, so
// where it is too small files cannot help and check_memory's refusal stands.
// Otherwise throws std::runtime_error("not enough memory: this render needs
// about X GiB, Y GiB available" and what keeps scratch files out:
// " and Z GiB free in FOLDER", ", and FOLDER cannot hold scratch files", or
// "; with its images in scratch files in FOLDER it still needs W GiB").
StoragePlan plan_storage(const RenderNeeds& needs, const MemoryRoom& room);

// Throws std::length_error when width x aa_scale or height x aa_scale does
// not fit an int, or an image of the scene's size and up to kMaxPlanes planes
// could not be indexed in 64 bits. Negative sizes are "Invalid render
// settings". Allocates nothing.
void check_render_size(const RenderSettings& settings);

}  // namespace neonvale
