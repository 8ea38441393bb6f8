#include "scene/scene_buffer.hpp"

#include "core/channels.hpp"

namespace neonvale {

namespace {

float* first_plane(Image& image) { return image.data.empty() ? nullptr : image.plane(0); }

}  // namespace

ImagePlanes SceneBuffer::planes() {
  ImagePlanes view;
  view.width = width;
  view.height = height;
  view.channels = kSceneChannels;
  for (int c = 0; c < 3; ++c) view.planes[std::size_t(kRed + c)] = colour.data.empty() ? nullptr : colour.plane(c);
  view.planes[kEmission] = first_plane(emission);
  view.planes[kReflectivity] = first_plane(reflectivity);
  view.planes[kDepth] = first_plane(knot_depth);
  view.planes[kRobot] = first_plane(robot);
  return view;
}

SceneDepth SceneBuffer::depth() {
  SceneDepth depth;
  depth.plane = first_plane(knot_depth);
  depth.row_depth = row_depth.data();
  depth.width = width;
  return depth;
}

}  // namespace neonvale
