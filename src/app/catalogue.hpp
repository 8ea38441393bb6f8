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

// The most threads -t may ask for.
constexpr int kMaxThreads = 1024;

// Throws std::invalid_argument("Invalid render settings"), ("invalid render
// id") or ("invalid thread count"), tested in that order.
void check_settings(const Config& config);
// "./" + id as at least two digits + "_" + file key + ".png".
std::string output_name(int render_id, const std::string& file_key);
// The name for the catalogue entry of config.render_id, which must be valid.
std::string output_name(const Config& config);
// Where the picture goes: the -o path, else output_name(config).
std::string output_path(const Config& config);
// The text a picture carries of how it was made: the program's version and
// the options that make it again, "neonvale 1.1.0 -w 3840 -h 2160 -a 2 -s
// 147994 -r 1". Nothing that leaves the picture as it is (threads, paths).
std::string provenance_text(const Config& config);
// What the renderer needs of the settings; the seed keeps its bits (a
// negative seed becomes the unsigned number with the same two's complement).
RenderSettings render_settings(const Config& config);

}  // namespace neonvale
