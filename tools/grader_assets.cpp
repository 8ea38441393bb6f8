#include "assets.hpp"
#include "image/png_io.hpp"

namespace neonvale::assets {

Image identity_color_grader(int side) {
  Image grader(side, side * side, 3);
  const float m = float(side - 1 > 0 ? side - 1 : 1);
  for (int r = 0; r < side; ++r)
    for (int g = 0; g < side; ++g)
      for (int b = 0; b < side; ++b) {
        grader.at(0, b, side * r + g) = float(r) / m;
        grader.at(1, b, side * r + g) = float(g) / m;
        grader.at(2, b, side * r + g) = float(b) / m;
      }
  return grader;
}

void write_color_grader(const std::filesystem::path& folder) {
  save_png(identity_color_grader(32), folder / "color_grader.png");
}

}  // namespace neonvale::assets
