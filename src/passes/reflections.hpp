#pragma once
// The reflections step: reflective pixels mirror the backdrop and the live
// scene with ripples.
//
// The reflections mirror the backdrop: colour and emission as they were
// before the robot was drawn. The robot changes them only inside its figure
// rectangle, and the reflections read only some rows of the backdrop, so a
// window over the part of that rectangle in those rows holds every backdrop
// value that differs from the scene; everywhere else the backdrop is the scene
// as it stands when the reflections start. The plain pass, which reads a whole
// snapshot instead, is in reflections_reference.hpp.
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// A rectangle of the backdrop: planes 0, 1, 2 are red, green and blue, plane
// 3 is emission; pixel (i, j) of the planes is scene pixel (x0 + i, y0 + j).
// An empty window (no planes) says that the robot changed nothing the
// reflections read.
struct BackdropWindow {
  int x0 = 0;
  int y0 = 0;
  Image planes;
  // The scene pixels the window holds.
  Rect area() const { return {x0, y0, x0 + planes.width, y0 + planes.height}; }
};

// Every backdrop row that the reflections of a width x height scene can read,
// whatever the reflectivity, the noise and the seed: a superset worked out
// from the reach of the ripples on each ground row. `ground_depth` holds the
// depth of every row where only the sky and the ground drew
// (ground_row_depths); rows whose entry is not below the sky's depth hold no
// ground and are left out.
Span backdrop_rows(int width, int height, const std::vector<float>& ground_depth);

// Copies red, green, blue and emission of `area`, clipped to the scene, into
// a window; call it before the robot is drawn. An empty area (after
// clipping) gives an empty window.
BackdropWindow capture_backdrop(const ImagePlanes& scene, const Rect& area);

// The reflections in place on the planes of a scene buffer: writes red,
// green, blue and emission of every reflective pixel with the very values
// reference::add_reflections(scene, snapshot, seed) gives, where the snapshot
// would hold the backdrop. Reads reflectivity and robot coverage; the depth
// plane may be absent, as every reflective pixel lies on the ground,
// uncovered, and has the depth `ground_depth` gives its row. The window must
// hold every backdrop value the pass can read that differs from the scene:
// the robot's figure rectangle within backdrop_rows. Copies only the few rows
// it would otherwise read after writing them (see reflection_kernel.hpp).
// Throws std::invalid_argument when a plane it uses is missing, the depth
// table does not have one finite, positive entry per reflective row, or the
// window is not four planes inside the scene.
void add_reflections(const ImagePlanes& scene, const BackdropWindow& backdrop, const std::vector<float>& ground_depth,
                     std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale
