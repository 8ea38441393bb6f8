#pragma once
// Pass F: lens water made visible: refraction, streak light, the inverted
// image inside drops and the water's emission.
#include <array>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// New colour R, G, B and emission of one pixel. a, ox, oy and b are the
// pixel's channels 8, 6, 7 and 11.
std::array<float, 4> droplet_pixel(const Image& copy, int x, int y, float c0, float c1, float c2, float e,
                                   float a, float ox, float oy, float b);
void apply_droplets(Image& scene, StepProgress* progress = nullptr);

}  // namespace neonvale
