#pragma once
// ImagePlanes: the planes of an image by channel, wherever they are stored.
// An Image keeps all its planes in one block; the renderer keeps the scene
// buffer's planes in blocks of their own, each made when first written and
// released after its last reader, and hands the passes this view of them. A
// plane the holder does not have is null.
#include <array>
#include <cstddef>

#include "core/image.hpp"
#include "core/sampling.hpp"

namespace neonvale {

constexpr int kMaxPlanes = 12;

struct ImagePlanes {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::array<float*, kMaxPlanes> planes{};

  float* operator[](int c) const { return planes[std::size_t(c)]; }
  std::size_t plane_size() const { return std::size_t(width) * std::size_t(height); }
  float* row(int c, int y) const { return planes[std::size_t(c)] + std::size_t(y) * std::size_t(width); }
  // Image::sample on plane c, which must be present.
  float sample(int c, float x, float y, bool smooth) const {
    return sample(c, taps(x, y, smooth));
  }
  // The same in two parts, as Image has them.
  PixelTaps taps(float x, float y, bool smooth) const { return pixel_taps(x, y, width, height, smooth); }
  float sample(int c, const PixelTaps& t) const { return sample_taps(planes[std::size_t(c)], width, t.x, t.y); }
};

// Every plane of an image of at most kMaxPlanes channels.
ImagePlanes planes_of(Image& image);
ImagePlanes planes_of(const Image& image);

}  // namespace neonvale
