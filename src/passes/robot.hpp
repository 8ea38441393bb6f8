#pragma once
// The robot figure: three asset images shaded as a glossy body that mirrors a
// blurred copy of the scene, alpha-blended with a depth test.
#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"
#include "passes/scene_depth.hpp"

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
// the width follows the aspect of `robo`. The full size maps the buffer's
// pixels to the assets' coordinates, and the width of an absurdly wide asset
// saturates at INT_MAX, so the figure keeps its size rather than a far edge.
struct FigureRect {
  int x0, y0;
  int width, height;
  // The figure's pixels within a buffer of that size.
  Rect within(int buffer_width, int buffer_height) const;
};
FigureRect figure_rect(int scene_width, int scene_height, int robo_width, int robo_height);

// The figure on planes held anywhere (colour, emission, robot coverage and
// reflectivity), with the depth in either of its forms; in the renderer's
// form the figure's depths are not kept, and a reflectivity that is 0 is
// left unwritten. The figure mirrors the scene's colour planes blurred with
// radius 2 x aa_scale, as reference::box_blur gives it, through a ring of rows.
void composite_robot(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                     const Image& robo_material, const Image& robo_emissive, int aa_scale,
                     StepProgress* progress = nullptr);

}  // namespace neonvale
