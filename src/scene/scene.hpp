#pragma once
// render_scene: the one picture of the program. It owns the 12-channel scene
// buffer, runs the passes in their fixed order (the stage table of
// scene/stages.hpp) and returns the finished picture. It reads no files: the
// caller loads the assets and hands them in.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// What a render needs to know of the settings.
struct RenderSettings {
  int width = 3840;
  int height = 2160;
  int aa_scale = 2;
  std::uint32_t seed = 147994;
};

// The four asset images, as loaded from their PNG files.
struct SceneAssets {
  Image robo;
  Image robo_material;
  Image robo_emissive;
  Image color_grader;
};

// "./assets/01_neonvale", relative to the working directory.
std::filesystem::path asset_folder();
// Loads robo.png, robo_material.png, robo_emissive.png and color_grader.png
// from `folder`, in that order; throws the loader's error for the first that
// fails. Counts one unit of `progress` per file.
SceneAssets load_scene_assets(const std::filesystem::path& folder, StepProgress* progress = nullptr);

// What the assets take in memory: their float images, which the render reads
// throughout, and for each file the decoded rows it holds beside its image
// while it loads.
struct AssetCosts {
  std::uint64_t images = 0;
  std::vector<std::uint64_t> decoding;
  // The decoded rows held at once while `threads` threads load the files:
  // at most that many of the largest.
  std::uint64_t decoding_peak(int threads) const;
};
// The costs of the four files in `folder` from their PNG headers. A file
// whose header cannot be read, or that needs more than `room` bytes to
// decode, counts as the shipped one: loading it then fails with a message
// that names it.
AssetCosts asset_costs(const std::filesystem::path& folder, std::uint64_t room = UINT64_MAX);
// The shipped assets' costs.
AssetCosts shipped_asset_costs();

// Optional hooks into a render, for the progress display and the tools. Each
// step begins with its counter (which the step fills in while it runs) and
// ends with the planes it produced: the scene buffer's after the scene
// passes (those it holds at that point; the others are null), the
// snapshot's, then the picture's after each post step.
struct RenderObserver {
  std::function<void(const char* stage, const StepProgress& progress)> stage_begin;
  std::function<void(const char* stage, const ImagePlanes& result)> stage_end;
};

// Returns the finished width x height, 3-channel picture. Sizes whose images
// could not be indexed are refused before anything is allocated
// (check_render_size); the memory check is the caller's.
Image render_scene(const RenderSettings& settings, const SceneAssets& assets,
                   const RenderObserver* observer = nullptr);

}  // namespace neonvale
