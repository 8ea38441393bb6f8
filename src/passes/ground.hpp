#pragma once
// Pass B: the wet perspective ground with its magenta grid.
#include <cstdint>

#include "image/image.hpp"

namespace neonvale {

struct GroundSample {
  float r, g, b;
  float depth;
  float reflectivity;
  float emission;
  bool hit;  // false above the horizon; then no other field is meaningful
};

GroundSample ground_sample(const Image& scene, float u, float v, const Image& warp, const Image& puddle,
                           float grain, int aa_scale);
void paint_ground(Image& scene, int aa_scale, std::uint32_t seed);

}  // namespace neonvale
