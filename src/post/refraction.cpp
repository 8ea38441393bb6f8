#include "post/refraction.hpp"

namespace neonvale {

// Not built yet: leaves the scene unchanged.
std::array<float, 4> droplet_pixel(const Image&, int, int, float c0, float c1, float c2, float e, float, float,
                                   float, float) {
  return {c0, c1, c2, e};
}
void apply_droplets(Image&) {}

}  // namespace neonvale
