#pragma once
// Up-front refusals of render settings that cannot succeed, so a run fails at
// once with a message instead of overflowing or being killed for memory.
#include <cstdint>
#include <optional>

#include "scene/scene.hpp"

namespace neonvale {

// Bytes of images a render holds at its peak: the largest sum of images alive
// at once over the steps of the stage table, and the save's buffers. Expects
// sizes that passed check_render_size's overflow test. The terms that depend
// on the assets (the robot figure's size and coverage) are taken from
// `assets`, or from the shipped ones when it is null.
std::uint64_t image_peak_bytes(const RenderSettings& settings, const SceneAssets* assets = nullptr);
// image_peak_bytes and a fixed allowance for the assets and the program itself.
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

// Throws std::runtime_error("not enough memory: this render needs about
// X GiB, Y GiB available") when the estimate exceeds `available`; an unknown
// amount passes.
void check_memory(const RenderSettings& settings, std::optional<std::uint64_t> available);

// Throws std::length_error when width x aa_scale or height x aa_scale does
// not fit an int, or an image of the scene's size and up to kMaxPlanes planes
// could not be indexed in 64 bits. Negative sizes are "Invalid render
// settings". Allocates nothing.
void check_render_size(const RenderSettings& settings);

}  // namespace neonvale
