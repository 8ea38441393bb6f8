// make_assets: writes the four asset files of assets/01_neonvale.
// Placeholder figure until the robot generator lands: a plain capsule.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "image/image.hpp"
#include "image/png_io.hpp"

using neonvale::Image;

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "assets/01_neonvale";
  std::filesystem::create_directories(folder);
  const int s = 32;
  Image grader(s, s * s, 3);
  for (int r = 0; r < s; ++r)
    for (int g = 0; g < s; ++g)
      for (int b = 0; b < s; ++b) {
        grader.at(0, b, s * r + g) = float(r) / float(s - 1);
        grader.at(1, b, s * r + g) = float(g) / float(s - 1);
        grader.at(2, b, s * r + g) = float(b) / float(s - 1);
      }
  neonvale::save_png(grader, folder / "color_grader.png");

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
  neonvale::save_png(robo, folder / "robo.png");
  neonvale::save_png(material, folder / "robo_material.png");
  neonvale::save_png(emissive, folder / "robo_emissive.png");
  return 0;
}
