#include "util/render_limits.hpp"

#include <climits>
#include <stdexcept>
#include <string>

#include "image/png_io.hpp"
#include "scene/channels.hpp"
#include "util/memory_budget.hpp"

namespace neonvale {

void check_render_size(const Config& config) {
  const long long aa = config.aa_scale;
  const long long scene_width = config.width * aa;  // int times int: fits 64 bits
  const long long scene_height = config.height * aa;
  if (scene_width < 0 || scene_height < 0) throw std::invalid_argument("Invalid render settings");
  // The pixel count is formed only from sides within int range, and the
  // element count only from a pixel count within int range.
  const bool sides_fit = scene_width <= INT_MAX && scene_height <= INT_MAX;
  const long long pixels = sides_fit ? scene_width * scene_height : 0;
  if (!sides_fit || pixels > INT_MAX || pixels * kSceneChannels > INT_MAX)
    throw std::length_error("render too large: " + std::to_string(config.width) + " x " +
                            std::to_string(config.height) + " at AA scale " + std::to_string(config.aa_scale) +
                            " exceeds the 2^31 - 1 samples an image can hold");
  check_memory(config, available_memory_bytes());
}

void check_output_size(const Config& config) {
  if (config.width > kMaxPngSide || config.height > kMaxPngSide)
    throw std::runtime_error("Cannot allocate PNG output");
}

}  // namespace neonvale
