#pragma once
// render_scene: owns the 12-channel scene buffer, loads the assets and runs
// the passes in their fixed order.
#include <filesystem>
#include <functional>

#include "app/options.hpp"
#include "image/image.hpp"

namespace neonvale {

// Optional hooks into a render, for the stage-hash tool and progress display.
// Each stage reports the image it produced: the scene buffer after the scene
// passes, the snapshot, then the colour image after each post step.
struct RenderObserver {
  std::function<void(const char* stage)> stage_begin;
  std::function<void(const char* stage, const Image& result)> stage_end;
};

// The folder the assets are read from, relative to the working directory.
std::filesystem::path asset_folder();

// Returns the finished width x height, 3-channel picture.
Image render_scene(const Config& config, const RenderObserver* observer = nullptr);

}  // namespace neonvale
