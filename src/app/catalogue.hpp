#pragma once
// The render catalogue and the program's checks of the settings.
#include <string>
#include <vector>

#include "app/options.hpp"
#include "scene/scene.hpp"

namespace neonvale {

struct RenderInfo {
  std::string title;
  std::string file_key;
  std::string tagline;
};

extern const std::vector<RenderInfo> render_catalogue;

// Throws std::invalid_argument("Invalid render settings") or ("invalid render id").
void check_settings(const Config& config);
// "./" + id as at least two digits + "_" + file key + ".png".
std::string output_name(int render_id, const std::string& file_key);
// The name for the catalogue entry of config.render_id, which must be valid.
std::string output_name(const Config& config);
// What the renderer needs of the settings; the seed keeps its bits (a
// negative seed becomes the unsigned number with the same two's complement).
RenderSettings render_settings(const Config& config);

}  // namespace neonvale
