#include "scene/stages.hpp"

#include "core/channels.hpp"
#include "passes/droplets.hpp"
#include "passes/ground.hpp"
#include "passes/knot.hpp"
#include "passes/robot.hpp"
#include "passes/sky.hpp"
#include "post/color_grade.hpp"
#include "post/downsample.hpp"
#include "post/glow.hpp"
#include "post/reflections.hpp"
#include "post/refraction.hpp"
#include "post/tone_map.hpp"
#include "scene/rain.hpp"

namespace neonvale {

namespace {

ImagePlanes sky(RenderState& s, StepProgress& progress) {
  const int aa = s.settings.aa_scale;
  s.scene = SceneBuffer(s.settings.width * aa, s.settings.height * aa);
  SceneBuffer& b = s.scene;
  b.colour = Image(b.width, b.height, 3);
  b.emission = b.plane();
  b.row_depth = ground_row_depths(b.height);
  const std::uint32_t seed = s.rng.draw_seed();
  // From its first row down the ground covers the sky entirely.
  paint_sky_rows(b.planes(), aa, seed, first_ground_row(b.height), &progress);
  return b.planes();
}

ImagePlanes ground(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  b.reflectivity = b.sparse_plane();  // the rows below the horizon
  const std::uint32_t seed = s.rng.draw_seed();
  paint_ground(b.planes(), b.depth(), s.settings.aa_scale, seed, &progress);
  return b.planes();
}

ImagePlanes knot(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  b.knot_depth = b.sparse_plane();
  paint_knot(b.planes(), b.depth(), &progress);
  return b.planes();
}

// The backdrop without the robot, mirrored by the reflections. Its depth
// plane is never read, so it is left out (zero, and never touched).
ImagePlanes snapshot(RenderState& s, StepProgress&) {
  SceneBuffer& b = s.scene;
  s.snapshot = Image(b.width, b.height, 5);
  for (int c : {kRed, kGreen, kBlue}) copy_plane(s.snapshot, c, b.colour, c);
  copy_plane(s.snapshot, kEmission, b.emission, 0);
  return planes_of(s.snapshot);
}

ImagePlanes robot(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  b.robot = b.sparse_plane();
  composite_robot(b.planes(), b.depth(), s.assets.robo, s.assets.robo_material, s.assets.robo_emissive,
                  s.settings.aa_scale, &progress);
  b.knot_depth = Image();  // no later step reads a depth the knot drew
  return b.planes();
}

// Until the reflections and the rain run on the scene buffer's planes: the
// whole 12-channel buffer they expect, and back.
Image whole_buffer(SceneBuffer& b) {
  Image whole(b.width, b.height, kSceneChannels);
  for (int c = 0; c < 3; ++c) copy_plane(whole, c, b.colour, c);
  copy_plane(whole, kEmission, b.emission, 0);
  if (!b.reflectivity.data.empty()) copy_plane(whole, kReflectivity, b.reflectivity, 0);
  if (!b.robot.data.empty()) copy_plane(whole, kRobot, b.robot, 0);
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) whole.at(kDepth, x, y) = b.row_depth[std::size_t(y)];
  return whole;
}

void take_back(SceneBuffer& b, const Image& whole) {
  for (int c = 0; c < 3; ++c) copy_plane(b.colour, c, whole, c);
  copy_plane(b.emission, 0, whole, kEmission);
}

ImagePlanes reflections(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  Image whole = whole_buffer(b);
  const std::uint32_t seed = s.rng.draw_seed();
  add_reflections(whole, s.snapshot, seed, &progress);
  take_back(b, whole);
  s.snapshot = Image();
  b.reflectivity = Image();
  b.robot = Image();
  return b.planes();
}

// The droplets and their refraction, a band of rows at a time.
ImagePlanes rain(RenderState& s, StepProgress& progress) {
  const std::uint32_t seed = s.rng.draw_seed();
  rain_on_lens(s.scene.planes(), s.settings.aa_scale, seed, &progress);
  return s.scene.planes();
}

// The glow goes straight into the colour planes, which then are the picture.
ImagePlanes glow(RenderState& s, StepProgress& progress) {
  add_glow(s.scene.planes(), 0.8f, &progress);
  s.colour = std::move(s.scene.colour);
  s.scene = SceneBuffer();
  return planes_of(s.colour);
}

// The tone mapping and the downsample in one sweep, to the output size.
ImagePlanes tone_map(RenderState& s, StepProgress& progress) {
  s.colour = tone_map_and_downsample(s.colour, s.settings.aa_scale, &progress);
  return planes_of(s.colour);
}

ImagePlanes grade(RenderState& s, StepProgress& progress) {
  apply_color_grader_in_place(s.colour, s.assets.color_grader, &progress);
  return planes_of(s.colour);
}

}  // namespace

const std::vector<Stage>& render_stages() {
  // name, step, creates, temporary, releases (planes of the scene's size, of the output's size)
  static const std::vector<Stage> stages = {
      // Colour and emission; the cloud noise (the cover is shaded as the
      // ring of its blur hands it over).
      {"sky", sky, {4, 0}, {1, 0}, {}},
      // Reflectivity; two value-noise images and the grain of the rows below
      // the horizon.
      {"ground", ground, {1, 0}, {2.5, 0}, {}},
      // The knot's depths.
      {"knot", knot, {1, 0}, {}, {}},
      {"snapshot", snapshot, {5, 0}, {}, {}},
      // Robot coverage; the blurred environment. Releases the knot's depths.
      {"robot", robot, {1, 0}, {3, 0}, {1, 0}},
      // The whole buffer for the plain pass, and its noise and row copies.
      {"reflections", reflections, {}, {12 + 5, 0}, {5 + 2, 0}},
      // An unchanged copy of the colour planes; the water of a band of rows
      // per thread.
      {"rain", rain, {}, {3, 0}, {}},
      // Releases emission; the colour planes become the picture.
      {"glow", glow, {}, {}, {1, 0}},
      // Tone mapped and downsampled into the picture at the output size.
      {"tone_map", tone_map, {0, 3}, {}, {3, 0}},
      {"grade", grade, {}, {}, {}},
  };
  return stages;
}

}  // namespace neonvale
