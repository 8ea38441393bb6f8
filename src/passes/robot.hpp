#pragma once
// The robot figure: three asset images shaded as a glossy body that mirrors a
// blurred copy of the scene, alpha-blended with a depth test.
#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

struct RobotSample {
  float r, g, b;
  float nx, ny, nz;
  float depth;
  float reflectivity;
  float emission;
  float alpha;
};

// Where the figure stands in a scene buffer: its origin and its full size in
// pixels (before clipping to the buffer). The height is 77 % of the buffer's,
// the width follows the aspect of `robo`.
struct FigureRect {
  int x0, y0;
  int width, height;
};
FigureRect figure_rect(int scene_width, int scene_height, int robo_width, int robo_height);

RobotSample robot_sample(const Image& environment, const Image& robo, const Image& robo_material,
                         const Image& robo_emissive, float u, float v);
void composite_robot(Image& scene, const Image& robo, const Image& robo_material, const Image& robo_emissive,
                     int aa_scale, StepProgress* progress = nullptr);

}  // namespace neonvale
