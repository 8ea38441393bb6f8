#pragma once
// Fractal value noise: six octaves of smoothly sampled random grids, in [0, 1).
#include <cstdint>

#include "core/image.hpp"

namespace neonvale {

constexpr int kNoiseOctaves = 6;

// Size of the random grid of one octave. The magnitude of `stretch` divides
// the column count, so a small stretch streaks the noise vertically. Throws
// std::out_of_range when the column count does not fit an int (a stretch of
// 0, NaN or a tiny magnitude).
struct NoiseGridSize {
  int columns;
  int rows;
};
NoiseGridSize noise_grid_size(int octave, float stretch);

// A one-channel width x height image; the same seed and stretch give the same
// image bit for bit, and the sign of `stretch` does not matter.
Image value_noise(int width, int height, std::uint32_t seed, float stretch);

}  // namespace neonvale
