#include "core/image_reference.hpp"

#include <cstring>
#include <stdexcept>

#include "core/parallel.hpp"

namespace neonvale::reference {

void copy_channels(Image& target, const Image& source) {
  pair_planes(target, source, [&](int i, int j) { copy_plane(target, i, source, j); });
}

void add(Image& target, const Image& other) {
  const std::size_t stride = std::size_t(target.width);
  pair_planes(target, other, [&](int i, int j) {
    float* dst = target.plane(i);
    const float* src = other.plane(j);
    parallel_rows(target.height, target.width, [&](int begin, int end) {
      for (std::size_t k = std::size_t(begin) * stride; k < std::size_t(end) * stride; ++k) dst[k] += src[k];
    });
  });
}

void add_scaled(Image& target, const Image& source, float factor) {
  const std::size_t n = target.plane_size();
  pair_planes(target, source, [&](int i, int j) {
    float* dst = target.plane(i);
    const float* src = source.plane(j);
    for (std::size_t k = 0; k < n; ++k) dst[k] += src[k] * factor;
  });
}

Image resample(const Image& source, int new_width, int new_height, bool smooth) {
  Image out(new_width, new_height, source.channels);
  const float wden = float(new_width) - 1.0f;
  const float hden = float(new_height) - 1.0f;
  const float sw = float(source.width - 1);
  const float sh = float(source.height - 1);
  for (int c = 0; c < source.channels; ++c) {
    float* dst = out.plane(c);
    for (int j = 0; j < new_height; ++j) {
      const float y = sh * (float(j) / hden);
      for (int k = 0; k < new_width; ++k) {
        const float x = (float(k) / wden) * sw;
        dst[std::size_t(j) * std::size_t(new_width) + std::size_t(k)] = source.sample(c, x, y, smooth);
      }
    }
  }
  return out;
}

void copy_plane(Image& target, int target_plane, const Image& source, int source_plane) {
  if (target.width != source.width || target.height != source.height || target_plane >= target.channels ||
      source_plane >= source.channels)
    throw std::invalid_argument("plane copy between images of different sizes");
  const std::size_t stride = std::size_t(target.width);
  float* to = target.plane(target_plane);
  const float* from = source.plane(source_plane);
  parallel_rows(target.height, target.width, [&](int begin, int end) {
    std::memcpy(to + std::size_t(begin) * stride, from + std::size_t(begin) * stride,
                std::size_t(end - begin) * stride * sizeof(float));
  });
}

}  // namespace neonvale::reference
