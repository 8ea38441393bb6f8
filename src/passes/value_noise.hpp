#pragma once
// Fractal value noise: six octaves of smoothly sampled random grids, in [0, 1).
#include <cstdint>

#include "image/image.hpp"

namespace neonvale {

Image value_noise(int width, int height, std::uint32_t seed, float stretch);

}  // namespace neonvale
