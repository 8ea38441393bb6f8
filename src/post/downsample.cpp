#include "post/downsample.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "core/parallel.hpp"
#include "post/downsample_reference.hpp"
#include "post/tone_map.hpp"

namespace neonvale {

namespace {

// One output row of a 2 x 2 averaging step from two input rows.
void halve_row(const float* top, const float* bottom, float* row, int out_width) {
  for (int x = 0; x < out_width; ++x)
    row[x] = (((top[2 * x] + top[2 * x + 1]) + bottom[2 * x]) + bottom[2 * x + 1]) * 0.25f;
}

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
      halve_row(top, top + in_stride, dst + std::size_t(y) * std::size_t(w), w);
    }
  });
  return out;
}

}  // namespace

namespace reference {

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

}  // namespace reference

Image tone_map_and_downsample(const Image& colour, int factor, StepProgress* progress) {
  if (factor < 1) throw std::invalid_argument("Antialias factor must be positive");
  if ((factor & (factor - 1)) != 0 || colour.width % factor != 0 || colour.height % factor != 0)
    throw std::runtime_error("Antialiased image not a power of 2");
  const int w = colour.width / factor;
  const int h = colour.height / factor;
  if (progress) progress->set_total((long long)colour.height + h);
  const float exposure = tone_map_exposure(colour, progress);
  Image out(w, h, 3);
  const std::size_t in_stride = std::size_t(colour.width);
  // Each output row comes from `factor` rows of the input: mapped into a
  // buffer of their own, then halved level by level as downsample halves the
  // whole image, the same four samples averaged in the same order.
  parallel_rows(h, colour.width, [&](int begin, int end) {
    std::vector<float> block(std::size_t(factor) * in_stride * 3);
    for (int y = begin; y < end; ++y) {
      const std::size_t at = std::size_t(y) * std::size_t(factor) * in_stride;
      const std::size_t n = std::size_t(factor) * in_stride;
      float* planes[3] = {block.data(), block.data() + n, block.data() + 2 * n};
      tone_map_run(exposure, colour.plane(0) + at, colour.plane(1) + at, colour.plane(2) + at, planes[0], planes[1],
                   planes[2], n);
      for (int c = 0; c < 3; ++c) {
        int rows = factor, width = colour.width;
        float* level = planes[c];
        while (rows > 1) {
          for (int r = 0; r < rows / 2; ++r) {
            const float* top = level + std::size_t(2 * r) * std::size_t(width);
            halve_row(top, top + width, level + std::size_t(r) * std::size_t(width / 2), width / 2);
          }
          rows /= 2;
          width /= 2;
        }
        std::copy(level, level + w, out.plane(c) + std::size_t(y) * std::size_t(w));
      }
      advance(progress, 1);
    }
  });
  return out;
}

}  // namespace neonvale
