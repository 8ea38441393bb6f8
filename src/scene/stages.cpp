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

namespace neonvale {

namespace {

int scene_width(const RenderState& s) { return s.settings.width * s.settings.aa_scale; }
int scene_height(const RenderState& s) { return s.settings.height * s.settings.aa_scale; }

const Image& sky(RenderState& s, StepProgress& progress) {
  s.scene = Image(scene_width(s), scene_height(s), kSceneChannels);
  const std::uint32_t seed = s.rng.draw_seed();
  paint_sky(s.scene, s.settings.aa_scale, seed, &progress);
  return s.scene;
}

const Image& ground(RenderState& s, StepProgress& progress) {
  const std::uint32_t seed = s.rng.draw_seed();
  paint_ground(s.scene, s.settings.aa_scale, seed, &progress);
  return s.scene;
}

const Image& knot(RenderState& s, StepProgress& progress) {
  paint_knot(s.scene, &progress);
  return s.scene;
}

// The backdrop without the robot, mirrored by the reflections. Its depth
// plane is never read, so it is left out (zero, and never touched).
const Image& snapshot(RenderState& s, StepProgress&) {
  s.snapshot = Image(s.scene.width, s.scene.height, 5);
  for (int c : {kRed, kGreen, kBlue, kEmission}) copy_plane(s.snapshot, c, s.scene, c);
  return s.snapshot;
}

const Image& robot(RenderState& s, StepProgress& progress) {
  composite_robot(s.scene, s.assets.robo, s.assets.robo_material, s.assets.robo_emissive, s.settings.aa_scale,
                  &progress);
  return s.scene;
}

const Image& reflections(RenderState& s, StepProgress& progress) {
  const std::uint32_t seed = s.rng.draw_seed();
  add_reflections(s.scene, s.snapshot, seed, &progress);
  s.snapshot = Image();
  return s.scene;
}

const Image& droplets(RenderState& s, StepProgress& progress) {
  const std::uint32_t seed = s.rng.draw_seed();
  paint_droplets(s.scene, s.settings.aa_scale, seed, &progress);
  return s.scene;
}

const Image& refraction(RenderState& s, StepProgress& progress) {
  apply_droplets(s.scene, &progress);
  return s.scene;
}

const Image& colour(RenderState& s, StepProgress&) {
  s.colour = Image(s.scene.width, s.scene.height, 3);
  s.colour.copy_channels(s.scene);
  return s.colour;
}

const Image& glow(RenderState& s, StepProgress& progress) {
  ImagePlanes planes = planes_of(s.colour);
  planes.planes[kEmission] = s.scene.plane(kEmission);
  add_glow(planes, 0.8f, &progress);
  s.scene = Image();  // the glow was its last reader
  return s.colour;
}

const Image& tone_map(RenderState& s, StepProgress& progress) {
  tone_map_in_place(s.colour, &progress);
  return s.colour;
}

const Image& downsample(RenderState& s, StepProgress&) {
  s.colour = downsample(s.colour, s.settings.aa_scale);
  return s.colour;
}

const Image& grade(RenderState& s, StepProgress& progress) {
  s.colour = apply_color_grader(s.colour, s.assets.color_grader, &progress);
  return s.colour;
}

}  // namespace

const std::vector<Stage>& render_stages() {
  // name, step, creates, temporary, releases
  static const std::vector<Stage> stages = {
      // The scene buffer; the cloud cover and its warped copy (the blur's
      // sums take the cover's storage).
      {"sky", sky, {kSceneChannels, 0}, {2, 0}, {}},
      // Two value-noise images and the grain of the rows below the horizon.
      {"ground", ground, {}, {2.5, 0}, {}},
      {"knot", knot, {}, {}, {}},
      {"snapshot", snapshot, {5, 0}, {}, {}},
      // The blurred environment and the blur's sums.
      {"robot", robot, {}, {6, 0}, {}},
      // Colour and emission of the rows it writes, and its noise.
      {"reflections", reflections, {}, {5, 0}, {5, 0}},
      {"droplets", droplets, {}, {}, {}},
      // An unchanged copy of the colour planes.
      {"refraction", refraction, {}, {3, 0}, {}},
      {"colour", colour, {3, 0}, {}, {}},
      // The glow's source; the blur's sums take the scene buffer's storage.
      {"glow", glow, {}, {3, 0}, {kSceneChannels, 0}},
      {"tone_map", tone_map, {}, {}, {}},
      // The halvings, together less than one plane.
      {"downsample", downsample, {0, 3}, {1, 0}, {3, 0}},
      // The graded copy.
      {"grade", grade, {0, 3}, {}, {0, 3}},
  };
  return stages;
}

}  // namespace neonvale
