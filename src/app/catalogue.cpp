#include "app/catalogue.hpp"

#include <cstdio>
#include <stdexcept>

namespace neonvale {

const std::vector<RenderInfo> render_catalogue = {
    {"Lumen Drift", "LumenDrift", "Somewhere, the rain never stops."},
};

void check_settings(const Config& config) {
  const bool power_of_two = config.aa_scale > 0 && (config.aa_scale & (config.aa_scale - 1)) == 0;
  if (config.width < 64 || config.height < 64 || !power_of_two)
    throw std::invalid_argument("Invalid render settings");
  if (config.render_id < 1 || config.render_id > int(render_catalogue.size()))
    throw std::invalid_argument("invalid render id");
  if (config.threads < 0 || config.threads > kMaxThreads) throw std::invalid_argument("invalid thread count");
}

std::string output_name(int render_id, const std::string& file_key) {
  char id[16];
  std::snprintf(id, sizeof id, "%02d", render_id);
  return std::string("./") + id + "_" + file_key + ".png";
}

std::string output_name(const Config& config) {
  return output_name(config.render_id, render_catalogue.at(std::size_t(config.render_id - 1)).file_key);
}

std::string output_path(const Config& config) { return config.output.empty() ? output_name(config) : config.output; }

std::string provenance_text(const Config& config) {
  char text[160];
  std::snprintf(text, sizeof text, "%s -w %d -h %d -a %d -s %d -r %d", version_line().c_str(), config.width,
                config.height, config.aa_scale, config.seed, config.render_id);
  return text;
}

RenderSettings render_settings(const Config& config) {
  RenderSettings settings;
  settings.width = config.width;
  settings.height = config.height;
  settings.aa_scale = config.aa_scale;
  settings.seed = static_cast<std::uint32_t>(config.seed);
  return settings;
}

}  // namespace neonvale
