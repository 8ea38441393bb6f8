#include "scene/scene_buffer.hpp"

#include "passes/channels.hpp"

namespace neonvale {

namespace {

float* plane_or_null(Image& image, int c = 0) { return image.data.empty() ? nullptr : image.plane(c); }

}  // namespace

ImagePlanes SceneBuffer::planes() {
  ImagePlanes view;
  view.width = width;
  view.height = height;
  view.channels = kSceneChannels;
  for (int c = 0; c < 3; ++c) view.planes[std::size_t(kRed + c)] = plane_or_null(colour, c);
  view.planes[kEmission] = plane_or_null(emission);
  view.planes[kReflectivity] = plane_or_null(reflectivity);
  view.planes[kDepth] = plane_or_null(knot_depth);
  view.planes[kRobot] = plane_or_null(robot);
  return view;
}

SceneDepth SceneBuffer::depth() {
  SceneDepth depth;
  depth.plane = plane_or_null(knot_depth);
  depth.row_depth = row_depth.data();
  depth.width = width;
  return depth;
}

}  // namespace neonvale
