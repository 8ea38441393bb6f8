#include "scene/scene.hpp"

#include "image/png_io.hpp"
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
#include "scene/channels.hpp"
#include "scene/random.hpp"
#include "util/planes.hpp"
#include "util/render_limits.hpp"

namespace neonvale {

namespace {

// Runs one step between the observer's hooks.
template <class Step>
void run_stage(const RenderObserver* observer, const char* name, const Image& result, Step&& step) {
  if (observer && observer->stage_begin) observer->stage_begin(name);
  step();
  if (observer && observer->stage_end) observer->stage_end(name, result);
}

}  // namespace

std::filesystem::path asset_folder() { return std::filesystem::path("./assets") / "01_neonvale"; }

Image render_scene(const Config& config, const RenderObserver* observer) {
  // Sizes that overflow or cannot fit in memory end here, before any allocation.
  check_render_size(config);
  Random rng(static_cast<std::uint32_t>(config.seed));
  const int aa = config.aa_scale;
  Image scene(config.width * aa, config.height * aa, kSceneChannels);

  const auto folder = asset_folder();
  const Image robo = load_png(folder / "robo.png");
  const Image robo_material = load_png(folder / "robo_material.png");
  const Image robo_emissive = load_png(folder / "robo_emissive.png");
  const Image color_grader = load_png(folder / "color_grader.png");

  const std::uint32_t sky_seed = rng.draw_seed();
  run_stage(observer, "sky", scene, [&] { paint_sky(scene, aa, sky_seed); });
  const std::uint32_t ground_seed = rng.draw_seed();
  run_stage(observer, "ground", scene, [&] { paint_ground(scene, aa, ground_seed); });
  run_stage(observer, "knot", scene, [&] { paint_knot(scene); });

  // The backdrop without the robot, mirrored by the reflections. Its depth
  // plane is never read, so it is left out (zero, and never touched).
  Image snapshot(scene.width, scene.height, 5);
  run_stage(observer, "snapshot", snapshot, [&] {
    for (int c : {kRed, kGreen, kBlue, kEmission}) copy_plane(snapshot, c, scene, c);
  });

  run_stage(observer, "robot", scene,
            [&] { composite_robot(scene, robo, robo_material, robo_emissive, aa); });
  const std::uint32_t reflection_seed = rng.draw_seed();
  run_stage(observer, "reflections", scene, [&] { add_reflections(scene, snapshot, reflection_seed); });
  const std::uint32_t droplet_seed = rng.draw_seed();
  run_stage(observer, "droplets", scene, [&] { paint_droplets(scene, aa, droplet_seed); });
  // The refraction's copy and then the colour image reuse the snapshot's
  // storage, which saves the page faults of fresh memory.
  Image spare = std::move(snapshot);
  run_stage(observer, "refraction", scene, [&] { apply_droplets(scene, spare); });

  Image colour = reuse_storage(std::move(spare), scene.width, scene.height, 3);
  run_stage(observer, "colour", colour, [&] { copy_planes(colour, scene, {kRed, kGreen, kBlue}); });
  run_stage(observer, "glow", colour, [&] {
    Image source = glow_source(scene);
    // The glow's source was the scene's last reader; its storage holds the blur's sums.
    Image sums = reuse_storage(std::move(scene), source.width, source.height, 3);
    add_planes(colour, spread_glow(std::move(source), 0.8f, std::move(sums)));
  });

  run_stage(observer, "tone_map", colour, [&] { tone_map_in_place(colour); });
  run_stage(observer, "downsample", colour, [&] { colour = downsample(colour, aa); });
  run_stage(observer, "grade", colour, [&] { colour = apply_color_grader(colour, color_grader); });
  return colour;
}

}  // namespace neonvale
