#include "grader_assets.hpp"


#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets.hpp"
#include "png16.hpp"

namespace neonvale::assets {

namespace {

double smoothstep(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace

std::array<float, 3> night_look(float r_in, float g_in, float b_in) {
  double c[3] = {std::clamp(double(r_in), 0.0, 1.0), std::clamp(double(g_in), 0.0, 1.0),
                 std::clamp(double(b_in), 0.0, 1.0)};

  // Gentle contrast: 12 % of a smoothstep per channel keeps 0, 0.5 and 1 fixed
  // and never clips.
  for (double& v : c) v = v * 0.88 + (v * v * (3.0 - 2.0 * v)) * 0.12;

  const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
  const double chroma = std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});

  // Saturation lift of up to 10 %, fading out as colours approach full
  // saturation so the neons neither clip nor shift.
  const double sat = 1.0 + 0.10 * (1.0 - chroma);
  for (double& v : c) v = std::clamp(luma + (v - luma) * sat, 0.0, 1.0);

  // Split toning on the weakly saturated colours only: the neon magenta and
  // azure have a chroma near 0.9 and pass almost untouched.
  const double neutral = 1.0 - smoothstep(0.3, 0.9, chroma);
  const double shadow = (1.0 - smoothstep(0.0, 0.55, luma)) * neutral;
  const double highlight = smoothstep(0.45, 1.0, luma) * neutral;
  // Teal shadows: less red, a faint green and blue lift that keeps black deep.
  c[0] *= 1.0 - 0.10 * shadow;
  c[1] += 0.008 * shadow * (1.0 - c[1]);
  c[2] += 0.018 * shadow * (1.0 - c[2]);
  // Warm highlights: lamplight amber in the brightest neutrals.
  c[0] += 0.035 * highlight * (1.0 - c[0]);
  c[1] += 0.010 * highlight * (1.0 - c[1]);
  c[2] *= 1.0 - 0.05 * highlight;

  return {float(std::clamp(c[0], 0.0, 1.0)), float(std::clamp(c[1], 0.0, 1.0)),
          float(std::clamp(c[2], 0.0, 1.0))};
}

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

Image night_color_grader(int side) {
  Image grader = identity_color_grader(side);
  for (int y = 0; y < grader.height; ++y)
    for (int x = 0; x < grader.width; ++x) {
      const std::array<float, 3> c = night_look(grader.at(0, x, y), grader.at(1, x, y), grader.at(2, x, y));
      for (int k = 0; k < 3; ++k) grader.at(k, x, y) = c[std::size_t(k)];
    }
  return grader;
}

void write_color_grader(const std::filesystem::path& folder) {
  save_png16(night_color_grader(kGraderSide), folder / "color_grader.png");
}

}  // namespace neonvale::assets
