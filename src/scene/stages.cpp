#include "scene/stages.hpp"

#include <algorithm>

#include "filters/box_blur.hpp"
#include "filters/value_noise.hpp"
#include "passes/channels.hpp"
#include "passes/droplets.hpp"
#include "passes/ground.hpp"
#include "passes/knot.hpp"
#include "passes/rain.hpp"
#include "passes/reflections.hpp"
#include "passes/robot.hpp"
#include "passes/sky.hpp"
#include "post/color_grade.hpp"
#include "post/downsample.hpp"
#include "post/glow.hpp"

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
  // From its first row down the ground covers the sky entirely; above it the
  // knot's beads cover it wherever their disks reach.
  const int rows = first_ground_row(b.height);
  const RowRuns beads = knot_cover(b.width, b.height, rows);
  paint_sky_rows(b.planes(), aa, seed, rows, &progress, &beads);
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

// The backdrop the reflections mirror is the scene without the robot. The
// robot changes colour and emission only inside its figure's rectangle, and
// the reflections read the backdrop only in some rows: the window keeps the
// backdrop where the two meet; everywhere else the scene itself still holds it.
// This is the window's area, empty when the two do not meet.
Rect backdrop_window(int width, int height, const std::vector<float>& row_depth, const FigureRect& figure) {
  const Span rows = backdrop_rows(width, height, row_depth);
  Rect area = figure.within(width, height);
  area.y0 = std::max(area.y0, rows.begin);
  area.y1 = std::min(area.y1, rows.end);
  return area;
}

ImagePlanes snapshot(RenderState& s, StepProgress&) {
  SceneBuffer& b = s.scene;
  const FigureRect figure = figure_rect(b.width, b.height, s.assets.robo.width, s.assets.robo.height);
  const Rect area = backdrop_window(b.width, b.height, b.row_depth, figure);
  s.backdrop = area.empty() ? BackdropWindow{} : capture_backdrop(b.planes(), area);
  return planes_of(s.backdrop.planes);
}

ImagePlanes robot(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  // The depth decides which pixels the figure changes; once they are found,
  // no later step reads a depth the knot drew.
  b.robot = b.sparse_plane();
  const RobotPixels pixels = find_robot_pixels(b.planes(), b.depth(), s.assets.robo, &progress);
  b.knot_depth = Image();
  draw_robot(b.planes(), pixels, s.assets.robo, s.assets.robo_material, s.assets.robo_emissive, s.settings.aa_scale,
             nullptr, &progress);
  return b.planes();
}

ImagePlanes reflections(RenderState& s, StepProgress& progress) {
  SceneBuffer& b = s.scene;
  const std::uint32_t seed = s.rng.draw_seed();
  add_reflections(b.planes(), s.backdrop, b.row_depth, seed, &progress);
  s.backdrop = BackdropWindow{};
  b.reflectivity = Image();
  b.robot = Image();
  return b.planes();
}

// The droplets and their refraction, a band of rows at a time.
ImagePlanes rain(RenderState& s, StepProgress& progress) {
  const std::uint32_t seed = s.rng.draw_seed();
  paint_droplets_and_refract(s.scene.planes(), seed, &progress);
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
  apply_color_grader(s.colour, s.assets.color_grader, &progress);
  return planes_of(s.colour);
}

// The shipped robo.png: its size, and the share of the figure's rectangle
// it covers (robot_cover_share), for estimates made before the assets are
// read.
constexpr int kShippedRoboWidth = 1024;
constexpr int kShippedRoboHeight = 1536;
constexpr double kShippedCoverShare = 0.3768;

// The figure's rectangle in the supersampled buffer, for the estimate.
FigureRect estimated_figure(const RenderSettings& settings, const SceneAssets* assets) {
  const int w = settings.width * settings.aa_scale;
  const int h = settings.height * settings.aa_scale;
  return assets ? figure_rect(w, h, assets->robo.width, assets->robo.height)
                : figure_rect(w, h, kShippedRoboWidth, kShippedRoboHeight);
}

// The backdrop window's planes: the figure's rectangle in the rows the
// reflections can read.
double backdrop_window_planes(const RenderSettings& settings, const SceneAssets* assets) {
  const int w = settings.width * settings.aa_scale;
  const int h = settings.height * settings.aa_scale;
  const Rect area = backdrop_window(w, h, ground_row_depths(h), estimated_figure(settings, assets));
  if (area.empty()) return 0.0;
  return 4.0 * double(area.height()) * double(area.width()) / (double(w) * double(h));
}

// The cloud noise the sky works out (the rows above the ground and what
// their blur and warp reach) and the scratch of its blur.
double cloud_noise_planes(const RenderSettings& settings, const SceneAssets*) {
  const int h = settings.height * settings.aa_scale;
  const int rows = cloud_noise_rows(h, settings.aa_scale, first_ground_row(h));
  return (double(rows) + BoxBlurRows::scratch_rows(h, 1, cloud_blur_radius(h))) / double(h);
}

// Once the figure's pixels are found, the knot's depths are released; then
// its points and the environment's rows while it draws. The pixels it changes
// are at most those it covers, a share of its rectangle that the asset
// decides (with 2 % to spare, as the share is a count of texels).
double robot_planes(const RenderSettings& settings, const SceneAssets* assets) {
  const int w = settings.width * settings.aa_scale;
  const int h = settings.height * settings.aa_scale;
  const Rect area = estimated_figure(settings, assets).within(w, h);
  const double covered = area.empty() ? 0.0 : double(area.width()) * double(area.height());
  const double share = (assets ? robot_cover_share(assets->robo) : kShippedCoverShare) * 1.02;
  const double pixels = share * covered / (double(w) * double(h));
  const double drawing = kRobotPointFloats * pixels + robot_ring_rows(h, settings.aa_scale) / double(h) - 1.0;
  return std::max(0.0, drawing);
}

// The copies the rain keeps of the colour before it: the seed is the
// fourth the scene's Random draws (after the sky's, the ground's and the
// reflections').
double rain_copy_planes(const RenderSettings& settings, const SceneAssets*) {
  const int w = settings.width * settings.aa_scale;
  const int h = settings.height * settings.aa_scale;
  Random rng(settings.seed);
  for (int i = 0; i < 3; ++i) rng.draw_seed();
  return double(rain_scratch_floats(w, h, rng.draw_seed())) / (double(w) * double(h));
}

// The grids of the ground's two noises and of the reflections' ripples (a
// noise of stretch 1): small, whatever the size, but they count in a small
// render.
double samples(const RenderSettings& settings) {
  return double(settings.width) * settings.aa_scale * double(settings.height) * settings.aa_scale;
}
double ground_noise_planes(const RenderSettings& settings, const SceneAssets*) {
  return double(ground_noise_floats()) / samples(settings);
}
double ripple_noise_planes(const RenderSettings& settings, const SceneAssets*) {
  return double(noise_grid_floats(1.0f)) / samples(settings);
}

// The scratch of the glow's blur.
double glow_scratch_planes(const RenderSettings& settings, const SceneAssets*) {
  const int h = settings.height * settings.aa_scale;
  return BoxBlurRows::scratch_rows(h, 3, glow_radius(h)) / double(h);
}

}  // namespace

const std::vector<Stage>& render_stages() {
  // name, step, creates, temporary, releases (planes of the scene's size, of the output's size), share
  static const std::vector<Stage> stages = {
      // Colour and emission; the cloud noise of the rows above the ground
      // (the cover is shaded as the ring of its blur hands it over).
      {"sky", sky, {4, 0}, {0, 0, cloud_noise_planes}, {}, 0.55},
      // Reflectivity; the noise and grain of a band of rows per thread.
      {"ground", ground, {1, 0}, {0, 0, ground_noise_planes}, {}, 0.34},
      // The knot's depths.
      {"knot", knot, {1, 0}, {}, {}, 0.15},
      // The backdrop window: colour and emission of the figure's rectangle
      // in the rows the reflections can read, about half a plane.
      {"snapshot", snapshot, {0, 0, backdrop_window_planes}, {}, {}, 0.01},
      // Robot coverage; the lists of the pixels it changes, what they mirror
      // and the environment's rows. Releases the knot's depths once the
      // pixels are found.
      {"robot", robot, {1, 0}, {0, 0, robot_planes}, {1, 0}, 0.40},
      // A few rows kept before they are written; releases the window,
      // reflectivity and robot coverage.
      {"reflections", reflections, {}, {0.1, 0, ripple_noise_planes}, {2, 0, backdrop_window_planes}, 0.50},
      // Copies of the colour rows that reads still need as the rain is
      // written; the water of a band of rows per thread.
      {"rain", rain, {}, {0, 0, rain_copy_planes}, {}, 0.53},
      // Releases emission; the colour planes become the picture.
      {"glow", glow, {}, {0, 0, glow_scratch_planes}, {1, 0}, 0.25},
      // Tone mapped and downsampled into the picture at the output size.
      {"tone_map", tone_map, {0, 3}, {}, {3, 0}, 0.34},
      {"grade", grade, {}, {}, {}, 0.09},
  };
  return stages;
}

}  // namespace neonvale
