#pragma once
// The knot step: a trefoil knot of 2400 neon beads, each shaded as a small sphere
// and written with a depth test.
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"
#include "passes/scene_depth.hpp"

namespace neonvale {

struct KnotBead {
  float x, y;  // centre in scene-buffer pixels
  float z;     // depth coordinate after the tilt, knot units
  float t;     // curve parameter, radians
};

// Bead radius in pixels for a buffer `height` rows high: 1.3 % of the height,
// never below 2 pixels.
float knot_radius(int height);
std::vector<KnotBead> knot_beads(int count, int scene_width, int scene_height);
// The knot on planes held anywhere (colour, emission, reflectivity), with the
// depth in either of its forms; a reflectivity that is 0 is left unwritten.
void paint_knot(const ImagePlanes& scene, const SceneDepth& depth, StepProgress* progress = nullptr);

// The pixels of rows [0, rows) of a width x height buffer that some bead's
// disk covers, by the knot's own test. Where only the sky has drawn (depth
// 1000, behind every bead) the knot overwrites each of them, whatever the
// order of the beads.
RowRuns knot_cover(int width, int height, int rows);

}  // namespace neonvale
