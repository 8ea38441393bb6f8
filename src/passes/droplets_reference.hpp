#pragma once
// The rain on a whole 12-channel scene buffer, for the tests and the contact
// sheet; the renderer paints it a band of rows at a time (paint_rain_rows).
#include <cstdint>

#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "passes/droplets.hpp"

namespace neonvale::reference {

// One streak or one drop into the water planes of a 12-channel image.
void paint_streak(Image& scene, const RainStreak& streak);
void paint_drop(Image& scene, const RainDrop& drop);
// Every streak, then every drop, of make_rain's rain into the water planes
// of a 12-channel image. The AA scale does not enter.
void paint_droplets(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale::reference
