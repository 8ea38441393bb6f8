#pragma once
// Image: the one raster type of the renderer. Planar single-precision floats:
// channel c, row y, column x is element (c * height + y) * width + x; row 0 is
// the top of the picture.
#include <cstddef>
#include <vector>

#include "core/plane_buffer.hpp"
#include "core/sampling.hpp"

namespace neonvale {

struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  PlaneBuffer data;

  Image() = default;
  // All values 0. Throws std::invalid_argument for a negative dimension and
  // std::length_error when its bytes could not be indexed.
  Image(int width, int height, int channels);

  // All values 0, in storage for a plane written only here and there (see
  // PlaneBuffer::sparse).
  static Image sparse(int width, int height, int channels);
  // All values 0, in memory whatever the planes' storage (see
  // PlaneBuffer::working).
  static Image working(int width, int height, int channels);

  Image(const Image& other);  // deep copy, bit for bit
  Image& operator=(const Image&) = delete;  // whole copies are always explicit
  // The source is left an empty 0 x 0 x 0 image.
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;

  std::size_t plane_size() const { return std::size_t(width) * std::size_t(height); }
  float* plane(int c) { return data.data() + std::size_t(c) * plane_size(); }
  const float* plane(int c) const { return data.data() + std::size_t(c) * plane_size(); }
  float& at(int c, int x, int y) { return plane(c)[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
  float at(int c, int x, int y) const { return plane(c)[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }

  // One writable pointer per plane, entry c at the first float of plane c.
  std::vector<float*> channel_pointers();

  // Clamped bilinear sample at pixel coordinates; pixel centres lie on integers.
  // `smooth` bends the fractions with smoothstep. The channel wraps modulo
  // `channels`.
  inline float sample(int channel, float x, float y, bool smooth) const;
  // The same in two parts: the taps of a position, which every channel of
  // the image shares, then the sample of one channel between them.
  PixelTaps taps(float x, float y, bool smooth) const { return pixel_taps(x, y, width, height, smooth); }
  PixelTaps taps_uv(float u, float v, bool smooth) const { return pixel_taps_uv(u, v, width, height, smooth); }
  float sample(int channel, const PixelTaps& t) const {
    return sample_taps(plane(channel % channels), width, t.x, t.y);
  }
  // The same at normalised coordinates: u = 0 and u = 1 are the centres of the
  // first and last columns.
  float sample_uv(int channel, float u, float v, bool smooth) const {
    return sample(channel, u * float(width - 1), v * float(height - 1), smooth);
  }
};

// The number of elements an image of this size would hold, or throws as the
// constructor does; lets callers refuse a size before allocating anything.
std::size_t checked_element_count(long long width, long long height, long long channels);

inline float Image::sample(int channel, float x, float y, bool smooth) const {
  return sample(channel, taps(x, y, smooth));
}

}  // namespace neonvale
