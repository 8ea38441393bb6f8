#include "post/glow.hpp"

#include <algorithm>
#include <cstring>

#include "core/image_reference.hpp"
#include "filters/box_blur.hpp"
#include "filters/box_blur_reference.hpp"
#include "maths/clamp.hpp"
#include "passes/channels.hpp"
#include "post/glow_reference.hpp"

namespace neonvale {

namespace {

// The emission weight of the glow: clamped to [0, 5], NaN to 5.
inline float glow_weight(float emission) { return clamp<NanGoes::kHigh>(emission, 0.0f, 5.0f); }

}  // namespace

int glow_radius(int height) {
  // About a 45th of the height, and at least 1.
  int radius = height / 45;
  if (radius < 2) radius = 1;
  return radius;
}


void add_glow(const ImagePlanes& scene, float strength, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  if (progress) progress->set_total(height);
  const std::size_t stride = std::size_t(width);
  const int radius = glow_radius(height);
  const float k = box_window_scale(radius);
  BoxBlurRows blur(width, height, 3, radius);
  // Every colour row is weighted and summed before any glow lands on it: the
  // ring asks for input rows ahead of the result rows it hands back.
  blur.run(
      [&](int c, int y, float* row) {
        const float* colour = scene.row(kRed + c, y);
        const float* emission = scene.row(kEmission, y);
        for (int x = 0; x < width; ++x) row[x] = glow_weight(emission[x]) * colour[x];
      },
      [&](int c, int y, int x0, int n, const float* sums) {
        float* colour = scene[kRed + c] + std::size_t(y) * stride + std::size_t(x0);
        for (int x = 0; x < n; ++x) colour[x] = colour[x] + (sums[x] * k) * strength;
        if (c == 2 && x0 + n == width) advance(progress, 1);
      });
}

namespace reference {

void weight_channels(Image& target, const Image& weights) {
  const std::size_t n = target.plane_size();
  pair_planes(target, weights, [&](int i, int j) {
    float* t = target.plane(i);
    const float* w = weights.plane(j);
    for (std::size_t k = 0; k < n; ++k) t[k] = glow_weight(w[k]) * t[k];
  });
}

Image make_glow(const Image& scene, float strength) {
  Image glow(scene.width, scene.height, 3);
  copy_channels(glow, scene);
  if (scene.channels > kEmission) {
    Image emission(scene.width, scene.height, 1);
    copy_plane(emission, 0, scene, kEmission);
    weight_channels(glow, emission);
  } else {
    std::fill(glow.data.begin(), glow.data.end(), 0.0f);
  }
  glow = box_blur(glow, glow_radius(glow.height));
  for (float& v : glow.data) v *= strength;
  return glow;
}

}  // namespace reference

}  // namespace neonvale
