#pragma once
// The sky whole, for the tests: every row of a 12-channel scene buffer, the
// cloud cover as an image of its own, one pixel at a time.
#include <cstdint>

#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "passes/sky.hpp"

namespace neonvale::reference {

// One-channel cloud cover of width x height, values in [0, 0.88^1.2].
// Counts nine units of `progress` per row.
Image cloud_cover(int width, int height, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);
// The five values of one sky pixel; only the scene's size is read.
SkySample sky_sample(const Image& scene, float u, float v, float cloud, int aa_scale);
// paint_sky_rows on every row of `scene`, depth included.
void paint_sky(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale::reference
