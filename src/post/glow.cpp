#include "post/glow.hpp"

#include <algorithm>
#include <cstring>

#include "passes/box_blur.hpp"
#include "scene/channels.hpp"

namespace neonvale {

void weight_channels(Image& target, const Image& weights) {
  if (target.width != weights.width || target.height != weights.height || weights.channels <= 0) {
    std::fill(target.data.begin(), target.data.end(), 0.0f);
    return;
  }
  const std::size_t n = target.plane_size();
  for (int i = 0; i < target.channels; ++i) {
    float* t = target.plane(i);
    const float* o = weights.plane(i % weights.channels);
    for (std::size_t j = 0; j < n; ++j) {
      // The upper clamp comes first, as in Image::sample.
      float w = o[j] < 5.0f ? o[j] : 5.0f;
      w = w > 0.0f ? w : 0.0f;
      t[j] = w * t[j];
    }
  }
}

Image make_glow(const Image& scene, float strength) {
  const int w = scene.width;
  const int h = scene.height;
  Image source(w, h, 3);
  source.copy_channels(scene);
  {
    Image emission(w, h, 1);
    if (scene.channels > kEmission && emission.plane_size() != 0)
      std::memcpy(emission.plane(0), scene.plane(kEmission), emission.plane_size() * sizeof(float));
    weight_channels(source, emission);
  }

  // About a 45th of the height, and at least 1.
  int radius = h / 45;
  if (radius < 2) radius = 1;
  Image glow = box_blur(source, radius);
  source = Image();
  for (float& value : glow.data) value *= strength;
  return glow;
}

}  // namespace neonvale
