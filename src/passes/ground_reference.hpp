#pragma once
// The ground on a whole 12-channel scene buffer, and one pixel of it from
// whole noise images, for the tests.
#include <cstdint>

#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "passes/ground.hpp"

namespace neonvale::reference {

// One ground pixel at (u, v) from the two noise images (sampled at the same
// normalised position) and its grain draw; only the scene's size is read.
GroundSample ground_sample(const Image& scene, float u, float v, const Image& warp, const Image& puddle,
                           float grain, int aa_scale);
// paint_ground on a 12-channel image, depth plane included.
void paint_ground(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale::reference
