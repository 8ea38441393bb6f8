#pragma once
// The glow: colour weighted by clamped emission, blurred wide, scaled down.
#include "core/image_planes.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// The glow added straight into the colour planes (0 to 2) of a scene buffer,
// through a ring of rows, so no image of the glow is ever stored. The colour
// afterwards is colour + reference::make_glow(scene, strength).
void add_glow(const ImagePlanes& scene, float strength, StepProgress* progress = nullptr);
// The glow's blur radius for a buffer `height` samples high.
int glow_radius(int height);

}  // namespace neonvale
