#pragma once
// The stage table: every step of a render in its fixed order, with the images
// it makes and releases. The driver runs it top to bottom; the progress
// display lists its names, the memory estimate adds up its images, and the
// benchmark times its steps.
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/random.hpp"
#include "core/step_progress.hpp"
#include "passes/reflections.hpp"
#include "scene/scene.hpp"
#include "scene/scene_buffer.hpp"

namespace neonvale {

// Everything a render holds between its steps.
struct RenderState {
  RenderState(const RenderSettings& settings, const SceneAssets& assets)
      : settings(settings), assets(assets), rng(settings.seed) {}

  RenderSettings settings;
  const SceneAssets& assets;
  // Used only to draw the four pass seeds, each right before its pass.
  Random rng;
  SceneBuffer scene;  // at the supersampled size
  BackdropWindow backdrop;  // the backdrop where the robot will change it, until the reflections
  Image colour;       // the picture, once the glow is in
};

// A number of float planes of the supersampled size (W x H) and of the output
// size (width x height).
struct PlaneCount {
  double scene = 0;
  double output = 0;
  // Planes of the supersampled size that depend on the settings beyond the
  // sizes, or on the assets, worked out for them; none when null. Without
  // assets, the shipped ones are assumed.
  double (*sized)(const RenderSettings& settings, const SceneAssets* assets) = nullptr;

  double scene_planes(const RenderSettings& settings, const SceneAssets* assets = nullptr) const {
    return scene + (sized ? sized(settings, assets) : 0.0);
  }
};

struct Stage {
  const char* name;
  // Runs the step, counting its work in `progress`, and returns the planes
  // it produced.
  ImagePlanes (*run)(RenderState& state, StepProgress& progress);
  PlaneCount creates;    // images the step makes that outlive it
  PlaneCount temporary;  // the step's own images, at their most at once
  PlaneCount releases;   // images released by the end of the step
  // The step's part of a default render's time (seconds measured on two
  // threads, so only their ratios matter), for the progress display's
  // estimate of the time left.
  double share = 0;
};

const std::vector<Stage>& render_stages();

}  // namespace neonvale
