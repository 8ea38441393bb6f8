#include "passes/value_noise.hpp"

namespace neonvale {

// Not built yet.
Image value_noise(int width, int height, std::uint32_t, float) { return Image(width, height, 1); }

}  // namespace neonvale
