#include "scene/scene.hpp"

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include "core/parallel.hpp"
#include "io/png_io.hpp"
#include "scene/render_limits.hpp"
#include "scene/stages.hpp"

namespace neonvale {

std::filesystem::path asset_folder() { return std::filesystem::path("./assets") / "01_neonvale"; }

namespace {

constexpr const char* kAssetFiles[4] = {"robo.png", "robo_material.png", "robo_emissive.png", "color_grader.png"};

// The shipped files: RGBA, RGBA, RGB and RGB, all 16-bit.
constexpr PngShape kShippedShapes[4] = {{1024, 1536, 4, 1024ull * 1536 * 8},
                                        {1024, 1536, 4, 1024ull * 1536 * 8},
                                        {1024, 1536, 3, 1024ull * 1536 * 6},
                                        {33, 1089, 3, 33ull * 1089 * 6}};

AssetCosts costs_of(const PngShape (&shapes)[4]) {
  AssetCosts costs;
  for (const PngShape& shape : shapes) {
    costs.images += shape.float_bytes();
    costs.decoding.push_back(shape.decoded_bytes);
  }
  std::sort(costs.decoding.begin(), costs.decoding.end(), std::greater<>());
  return costs;
}

}  // namespace

std::uint64_t AssetCosts::decoding_peak(int threads) const {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < decoding.size() && i < std::size_t(std::max(threads, 1)); ++i) sum += decoding[i];
  return sum;
}

AssetCosts asset_costs(const std::filesystem::path& folder, std::uint64_t room) {
  PngShape shapes[4];
  for (int i = 0; i < 4; ++i) {
    const std::optional<PngShape> read = read_png_shape(folder / kAssetFiles[i]);
    const bool fits = read && read->decoded_bytes <= room && read->float_bytes() <= room - read->decoded_bytes;
    shapes[i] = fits ? *read : kShippedShapes[i];
  }
  return costs_of(shapes);
}

AssetCosts shipped_asset_costs() { return costs_of(kShippedShapes); }

SceneAssets load_scene_assets(const std::filesystem::path& folder, StepProgress* progress) {
  if (progress) progress->set_total(4);
  SceneAssets assets;
  Image* const images[4] = {&assets.robo, &assets.robo_material, &assets.robo_emissive, &assets.color_grader};
  // The files decode side by side; when several fail, the first in the
  // order above is the one reported, as if they had loaded one by one.
  std::exception_ptr failures[4];
  parallel_for(4, [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      try {
        *images[i] = load_png(folder / kAssetFiles[i]);
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
