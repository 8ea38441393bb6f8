#pragma once
// The glow: colour weighted by clamped emission, blurred wide, scaled down.
#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

Image make_glow(const Image& scene, float strength);
// make_glow in two steps, so the scene can be released before the blur: the
// colour planes weighted by the clamped emission, then the blur and scaling.
Image glow_source(const Image& scene);
Image spread_glow(Image source, float strength, StepProgress* progress = nullptr);
int glow_radius(int height);
// Every plane of target times its weight (plane i mod weights.channels)
// clamped to [0, 5]; a size mismatch clears the target.
void weight_channels(Image& target, const Image& weights);
// One plane of `size`'s dimensions times its clamped weights.
void weight_plane(float* target, const float* weights, const Image& size);

}  // namespace neonvale
