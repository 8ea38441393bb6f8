#pragma once
// The robot figure: three asset images shaded as a glossy body that mirrors a
// blurred copy of the scene, alpha-blended with a depth test.
#include "image/image.hpp"

namespace neonvale {

struct RobotSample {
  float r, g, b;
  float nx, ny, nz;
  float depth;
  float reflectivity;
  float emission;
  float alpha;
};

RobotSample robot_sample(const Image& environment, const Image& robo, const Image& robo_material,
                         const Image& robo_emissive, float u, float v);
void composite_robot(Image& scene, const Image& robo, const Image& robo_material, const Image& robo_emissive,
                     int aa_scale);

}  // namespace neonvale
