#pragma once
// The bilinear sampler split into its two axes. A tap holds the two indices
// and the weight that Image::sample derives from one coordinate, with exactly
// the same operations, so a pass that samples many pixels of one row or
// column can derive the taps once and get the very same values.
#include <cstddef>

namespace neonvale {

struct SampleTap {
  int i0, i1;  // the two neighbouring indices
  float f;     // weight of i1 (smoothstep-bent when smooth)
};

// Clamps to [0, size - 1]: the upper clamp first, so NaN lands on the upper edge.
inline SampleTap sample_tap(float coord, int size, bool smooth) {
  const float max = float(size) - 1.0f;
  float c = coord < max ? coord : max;
  c = c > 0.0f ? c : 0.0f;
  const int i0 = int(c);
  const int i1 = i0 + 1 < size - 1 ? i0 + 1 : size - 1;
  float f = c - float(i0);
  if (smooth) f = (3.0f - (f + f)) * (f * f);
  return SampleTap{i0, i1, f};
}

// The taps of one position in both axes.
struct PixelTaps {
  SampleTap x, y;
};

// The taps of (x, y) in a width x height plane.
inline PixelTaps pixel_taps(float x, float y, int width, int height, bool smooth) {
  return {sample_tap(x, width, smooth), sample_tap(y, height, smooth)};
}

// The taps of normalised coordinates: u = 0 and u = 1 are the centres of the
// first and last columns, v = 0 and v = 1 those of the first and last rows.
inline PixelTaps pixel_taps_uv(float u, float v, int width, int height, bool smooth) {
  return pixel_taps(u * float(width - 1), v * float(height - 1), width, height, smooth);
}

// The bilinear value between the taps from the four values they select:
// (x.i0, y.i0), (x.i1, y.i0), (x.i0, y.i1) and (x.i1, y.i1).
inline float sample_corners(float top_left, float top_right, float bottom_left, float bottom_right, SampleTap x,
                            SampleTap y) {
  const float top = (1.0f - x.f) * top_left + x.f * top_right;
  const float bottom = (1.0f - x.f) * bottom_left + x.f * bottom_right;
  return top * (1.0f - y.f) + bottom * y.f;
}

// The bilinear value between the taps, rows y.i0 and y.i1 given as row0 and
// row1 (wherever they are held).
inline float sample_rows(const float* row0, const float* row1, SampleTap x, SampleTap y) {
  return sample_corners(row0[x.i0], row0[x.i1], row1[x.i0], row1[x.i1], x, y);
}

// The bilinear value of one plane between the taps.
inline float sample_taps(const float* plane, int width, SampleTap x, SampleTap y) {
  return sample_rows(plane + std::size_t(y.i0) * std::size_t(width), plane + std::size_t(y.i1) * std::size_t(width),
                     x, y);
}

// Clamped bilinear sample of a bare plane, the same as Image::sample.
inline float sample_plane(const float* plane, int width, int height, float x, float y, bool smooth) {
  const PixelTaps t = pixel_taps(x, y, width, height, smooth);
  return sample_taps(plane, width, t.x, t.y);
}

}  // namespace neonvale
