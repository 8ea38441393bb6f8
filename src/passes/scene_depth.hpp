#pragma once
// SceneDepth: the depth plane of the scene buffer, in one of two forms.
//
// The plain passes keep the whole plane: the sky writes 1000 everywhere, the
// ground, the knot and the robot write their depths where they win. The
// renderer keeps only what cannot be worked out: the ground wins whole rows
// (its depth depends on the row alone), so the depth where only the sky and
// the ground have drawn is a table of one value per row, and the plane holds
// just the knot's depths, 0 where it did not draw (a bead is never nearer
// than 11). The robot's depths are never read again, so it does not write
// them in that form.
#include <cstddef>

#include "core/image.hpp"
#include "passes/channels.hpp"

namespace neonvale {

struct SceneDepth {
  float* plane = nullptr;            // the depth plane, or the knot's depths
  const float* row_depth = nullptr;  // null when `plane` is the whole depth plane
  int width = 0;

  float at(int x, int y) const {
    const float d = plane[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    return row_depth && d == 0.0f ? row_depth[y] : d;
  }
  // Whether the robot's depths are kept.
  bool whole() const { return row_depth == nullptr; }
};

// The whole depth plane of a 12-channel scene buffer.
inline SceneDepth whole_depth(Image& scene) {
  SceneDepth depth;
  depth.plane = scene.plane(kDepth);
  depth.width = scene.width;
  return depth;
}

}  // namespace neonvale
