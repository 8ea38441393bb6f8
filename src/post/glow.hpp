#pragma once
// The glow: colour weighted by clamped emission, blurred wide, scaled down.
#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// The glow of a scene buffer as an image of its own, step by step: the colour
// planes weighted by the emission plane, box_blur, scaled by `strength`.
Image make_glow(const Image& scene, float strength);
// What the renderer does with it: the same glow added straight into the
// colour planes (0 to 2) of `scene`, through a ring of rows, so no image of
// the glow is ever stored. The colour afterwards is colour + make_glow.
void add_glow(const ImagePlanes& scene, float strength, StepProgress* progress = nullptr);
int glow_radius(int height);
// Every plane of target times its weight (plane i mod weights.channels)
// clamped to [0, 5]; a size mismatch clears the target.
void weight_channels(Image& target, const Image& weights);

}  // namespace neonvale
