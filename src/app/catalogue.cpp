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
}

std::string output_name(const Config& config) {
  char id[16];
  std::snprintf(id, sizeof id, "%02d", config.render_id);
  return std::string("./") + id + "_" + render_catalogue[std::size_t(config.render_id - 1)].file_key + ".png";
}

}  // namespace neonvale
