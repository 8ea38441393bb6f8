#include "scene/scene.hpp"

#include "io/png_io.hpp"
#include "scene/render_limits.hpp"
#include "scene/stages.hpp"

namespace neonvale {

std::filesystem::path asset_folder() { return std::filesystem::path("./assets") / "01_neonvale"; }

SceneAssets load_scene_assets(const std::filesystem::path& folder, StepProgress* progress) {
  if (progress) progress->set_total(4);
  SceneAssets assets;
  for (auto [image, name] : {std::pair{&assets.robo, "robo.png"}, std::pair{&assets.robo_material, "robo_material.png"},
                             std::pair{&assets.robo_emissive, "robo_emissive.png"},
                             std::pair{&assets.color_grader, "color_grader.png"}}) {
    *image = load_png(folder / name);
    advance(progress, 1);
  }
  return assets;
}

Image render_scene(const RenderSettings& settings, const SceneAssets& assets, const RenderObserver* observer) {
  // Sizes that overflow end here, before any allocation.
  check_render_size(settings);
  RenderState state(settings, assets);
  for (const Stage& stage : render_stages()) {
    StepProgress progress;
    if (observer && observer->stage_begin) observer->stage_begin(stage.name, progress);
    const ImagePlanes result = stage.run(state, progress);
    if (observer && observer->stage_end) observer->stage_end(stage.name, result);
  }
  return std::move(state.colour);
}

}  // namespace neonvale
