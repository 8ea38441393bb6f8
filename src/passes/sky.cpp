#include "passes/sky.hpp"

namespace neonvale {

// Not built yet: leaves the scene unchanged.
Image cloud_cover(int width, int height, int, std::uint32_t) { return Image(width, height, 1); }
SkySample sky_sample(const Image&, float, float, float, int) { return {0, 0, 0, 1000.0f, 0}; }
void paint_sky(Image&, int, std::uint32_t) {}

}  // namespace neonvale
