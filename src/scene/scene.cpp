#include "scene/scene.hpp"

#include <exception>
#include <utility>

#include "core/parallel.hpp"
#include "io/png_io.hpp"
#include "scene/render_limits.hpp"
#include "scene/stages.hpp"

namespace neonvale {

std::filesystem::path asset_folder() { return std::filesystem::path("./assets") / "01_neonvale"; }

SceneAssets load_scene_assets(const std::filesystem::path& folder, StepProgress* progress) {
  if (progress) progress->set_total(4);
  SceneAssets assets;
  const std::pair<Image*, const char*> files[] = {{&assets.robo, "robo.png"},
                                                  {&assets.robo_material, "robo_material.png"},
                                                  {&assets.robo_emissive, "robo_emissive.png"},
                                                  {&assets.color_grader, "color_grader.png"}};
  // The files decode side by side; when several fail, the first in the
  // order above is the one reported, as if they had loaded one by one.
  std::exception_ptr failures[4];
  parallel_for(4, [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      try {
        *files[i].first = load_png(folder / files[i].second);
      } catch (...) {
        failures[i] = std::current_exception();
      }
      advance(progress, 1);
    }
  });
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
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
