#include "post/glow.hpp"

#include <algorithm>
#include <cstring>

#include "filters/box_blur.hpp"
#include "core/channels.hpp"
#include "core/parallel.hpp"

namespace neonvale {

void weight_channels(Image& target, const Image& weights) {
  if (target.width != weights.width || target.height != weights.height || weights.channels <= 0) {
    std::fill(target.data.begin(), target.data.end(), 0.0f);
    return;
  }
  for (int i = 0; i < target.channels; ++i) weight_plane(target.plane(i), weights.plane(i % weights.channels), target);
}

void weight_plane(float* target, const float* weights, const Image& size) {
  const std::size_t stride = std::size_t(size.width);
  parallel_rows(size.height, size.width, [&](int begin, int end) {
    for (std::size_t j = std::size_t(begin) * stride; j < std::size_t(end) * stride; ++j) {
      // The upper clamp comes first, as in Image::sample.
      float w = weights[j] < 5.0f ? weights[j] : 5.0f;
      w = w > 0.0f ? w : 0.0f;
      target[j] = w * target[j];
    }
  });
}

Image glow_source(const Image& scene) {
  Image source(scene.width, scene.height, 3);
  source.copy_channels(scene);
  // The emission plane weighs every colour plane; it is read in place.
  if (scene.channels > kEmission)
    for (int c = 0; c < 3; ++c) weight_plane(source.plane(c), scene.plane(kEmission), source);
  else
    std::fill(source.data.begin(), source.data.end(), 0.0f);
  return source;
}

int glow_radius(int height) {
  // About a 45th of the height, and at least 1.
  int radius = height / 45;
  if (radius < 2) radius = 1;
  return radius;
}

Image spread_glow(Image source, float strength, StepProgress* progress) {
  Image glow = std::move(source);
  if (progress) progress->set_total(2);
  box_blur_in_place(glow, glow_radius(glow.height));
  advance(progress, 1);
  const std::size_t stride = std::size_t(glow.width);
  const int rows = glow.height * glow.channels;
  float* values = glow.data.data();
  parallel_rows(rows, glow.width, [&](int begin, int end) {
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i) values[i] *= strength;
  });
  advance(progress, 1);
  return glow;
}

Image make_glow(const Image& scene, float strength) { return spread_glow(glow_source(scene), strength); }

}  // namespace neonvale
