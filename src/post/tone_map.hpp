#pragma once
// Global photographic tone mapping keyed to the log-average luminance, then a
// display gamma and an S-shaped contrast curve. Output samples lie in [0, 1].
#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

Image tone_map(const Image& colour);
// The same written over the colour image's first three planes.
void tone_map_in_place(Image& colour, StepProgress* progress = nullptr);
// The same into `out` (3 channels, the colour image's size), which may be the
// colour image itself: every pixel is read before it is written.
void tone_map_into(const Image& colour, Image& out, StepProgress* progress = nullptr);

}  // namespace neonvale
