#pragma once
// The glow: colour weighted by clamped emission, blurred wide, scaled down.
#include "image/image.hpp"

namespace neonvale {

Image make_glow(const Image& scene, float strength);
// Every plane of target times its weight (plane i mod weights.channels)
// clamped to [0, 5]; a size mismatch clears the target.
void weight_channels(Image& target, const Image& weights);

}  // namespace neonvale
