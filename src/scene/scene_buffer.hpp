#pragma once
// SceneBuffer: the renderer's scene buffer. The passes share twelve planes of
// the supersampled size, but each is needed for a part of the run only, and
// some only in part, so each group of planes is a block of its own, made by
// the step that first writes it and released after its last reader:
//
//   colour (0-2)    the sky on; at the end it becomes the picture, no copy
//   emission (4)    the sky to the glow
//   reflectivity    the ground to the reflections (10)
//   knot depth (3)  the knot to the robot: the knot's depths, 0 elsewhere;
//                   the rest of the depth is a table of one value per row
//   robot (9)       the robot to the reflections
//
// The water planes (6, 7, 8, 11) live only a band of rows at a time, inside
// the rain step; plane 5 is never written and never made.
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "passes/scene_depth.hpp"

namespace neonvale {

struct SceneBuffer {
  SceneBuffer() = default;
  SceneBuffer(int width, int height) : width(width), height(height) {}

  int width = 0;
  int height = 0;
  Image colour;
  Image emission;
  Image reflectivity;
  Image knot_depth;
  Image robot;
  std::vector<float> row_depth;  // the depth where only the sky and the ground drew

  // A one-plane image of the buffer's size, all zero.
  Image plane() const { return Image(width, height, 1); }
  // The same for a plane written only in part (see PlaneBuffer::sparse).
  Image sparse_plane() const { return Image::sparse(width, height, 1); }
  // The planes the buffer holds now, by channel; the others are null.
  ImagePlanes planes();
  // The depth in the renderer's form (see passes/scene_depth.hpp).
  SceneDepth depth();
};

}  // namespace neonvale
