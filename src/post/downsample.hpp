#pragma once
// Antialias reduction by repeated 2 x 2 averaging.
#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// The tone map, then the antialias reduction: the mapping done a band of
// input rows at a time into a small buffer that is halved there, so the
// mapped full-size picture is never stored. The same values as
// reference::downsample(reference::tone_map(colour), factor).
Image tone_map_and_downsample(const Image& colour, int factor, StepProgress* progress = nullptr);

}  // namespace neonvale
