#pragma once
// Global photographic tone mapping keyed to the log-average luminance, then a
// display gamma and an S-shaped contrast curve. Output samples lie in [0, 1].
#include <cstddef>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// The tone map in two halves, for a caller that maps rows as it goes: the
// exposure of the whole image (counting one unit of progress per row), and
// the mapping of n samples of the three planes with it. Output may be input.
// reference::tone_map maps a whole image.
float tone_map_exposure(const Image& colour, StepProgress* progress = nullptr);
void tone_map_run(float exposure, const float* r, const float* g, const float* b, float* out_r, float* out_g,
                  float* out_b, std::size_t n);

}  // namespace neonvale
