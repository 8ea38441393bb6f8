#include <cmath>

#include "assets.hpp"
#include "image/png_io.hpp"

namespace neonvale::assets {

// Placeholder figure until the robot generator lands: a plain ellipsoid.
void write_robot_assets(const std::filesystem::path& folder) {
  const int w = 256, h = 384;
  Image robo(w, h, 4), material(w, h, 4), emissive(w, h, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float px = (float(x) - 128.0f) / 100.0f, py = (float(y) - 192.0f) / 170.0f;
      const float d = px * px + py * py;
      const float nz = d < 1.0f ? std::sqrt(1.0f - d) : 0.0f;
      robo.at(0, x, y) = (px + 1.0f) * 0.5f;
      robo.at(1, x, y) = (py + 1.0f) * 0.5f;
      robo.at(2, x, y) = (nz + 1.0f) * 0.5f;
      robo.at(3, x, y) = d < 1.0f ? 1.0f : 0.0f;
      for (int c = 0; c < 3; ++c) material.at(c, x, y) = 0.05f;
      material.at(3, x, y) = 0.6f;
    }
  save_png(robo, folder / "robo.png");
  save_png(material, folder / "robo_material.png");
  save_png(emissive, folder / "robo_emissive.png");
}

}  // namespace neonvale::assets
