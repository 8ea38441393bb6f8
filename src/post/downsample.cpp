#include "post/downsample.hpp"

#include <stdexcept>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

// One 2 x 2 averaging step; the caller has checked that both sizes are even.
Image halve(const Image& in) {
  const int w = in.width / 2;
  const int h = in.height / 2;
  Image out(w, h, in.channels);
  const std::size_t in_stride = std::size_t(in.width);
  parallel_rows(in.channels * h, w, [&](int begin, int end) {
    for (int job = begin; job < end; ++job) {
      const int c = job / h;
      const int y = job % h;
      const float* src = in.plane(c);
      float* dst = out.plane(c);
      const float* top = src + std::size_t(2 * y) * in_stride;
      const float* bottom = top + in_stride;
      float* row = dst + std::size_t(y) * std::size_t(w);
      for (int x = 0; x < w; ++x)
        row[x] = (((top[2 * x] + top[2 * x + 1]) + bottom[2 * x]) + bottom[2 * x + 1]) * 0.25f;
    }
  });
  return out;
}

}  // namespace

Image downsample(const Image& image, int factor) {
  if (factor < 1) throw std::invalid_argument("Antialias factor must be positive");
  // Halving with a truncated factor would silently give the wrong size.
  if ((factor & (factor - 1)) != 0) throw std::runtime_error("Antialiased image not a power of 2");
  if (factor == 1) return image;

  Image current;
  const Image* level = &image;
  for (; factor > 1; factor /= 2) {
    if (level->width % 2 != 0 || level->height % 2 != 0)
      throw std::runtime_error("Antialiased image not a power of 2");
    current = halve(*level);
    level = &current;
  }
  return current;
}

}  // namespace neonvale
