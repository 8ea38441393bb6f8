#pragma once
// The glow as an image of its own, step by step, for the tests.
#include "core/image.hpp"

namespace neonvale::reference {

// The glow of a scene buffer: the colour planes weighted by the emission
// plane, box_blur, scaled by `strength`.
Image make_glow(const Image& scene, float strength);
// Every plane of target times its weight (plane i mod weights.channels)
// clamped to [0, 5]; a size mismatch clears the target.
void weight_channels(Image& target, const Image& weights);

}  // namespace neonvale::reference
