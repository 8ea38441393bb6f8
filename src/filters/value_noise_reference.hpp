#pragma once
// The value noise as a whole image, for the plain passes and the tests; the
// renderer takes it row by row (NoiseRows).
#include <cstdint>

#include "core/image.hpp"

namespace neonvale::reference {

// A one-channel width x height image, row y being NoiseRows' fill_row(y);
// the same seed and stretch give the same image bit for bit, and the sign of
// `stretch` does not matter.
Image value_noise(int width, int height, std::uint32_t seed, float stretch);

}  // namespace neonvale::reference
