#pragma once
// The bilinear sampler split into its two axes. A tap holds the two indices
// and the weight that Image::sample derives from one coordinate, with exactly
// the same operations, so a pass that samples many pixels of one row or
// column can derive the taps once and get the very same values.
#include <cstddef>

#include "maths/clamp.hpp"

namespace neonvale {

struct SampleTap {
  int i0, i1;  // the two neighbouring indices
  float f;     // weight of i1 (smoothstep-bent when smooth)
};

// Clamps to [0, size - 1], NaN to the upper edge.
inline SampleTap sample_tap(float coord, int size, bool smooth) {
  const float c = clamp<NanGoes::kHigh>(coord, 0.0f, float(size) - 1.0f);
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

// The weighted mean of a and b with weight f on b, as every sampler here
// forms it.
inline float lerp(float a, float b, float f) { return (1.0f - f) * a + f * b; }

// The bilinear value of the four samples around a position, a and b on the
// upper row, c and d on the lower one, with the taps' weights fx and fy.
inline float bilinear(float a, float b, float c, float d, float fx, float fy) {
  return lerp(lerp(a, b, fx), lerp(c, d, fx), fy);
}

// The taps of normalised coordinates: u = 0 and u = 1 are the centres of the
// first and last columns, v = 0 and v = 1 those of the first and last rows.
inline PixelTaps pixel_taps_uv(float u, float v, int width, int height, bool smooth) {
  return pixel_taps(u * float(width - 1), v * float(height - 1), width, height, smooth);
}

// The bilinear value between the taps, rows y.i0 and y.i1 given as row0 and
// row1 (wherever they are held).
inline float sample_rows(const float* row0, const float* row1, SampleTap x, SampleTap y) {
  return bilinear(row0[x.i0], row0[x.i1], row1[x.i0], row1[x.i1], x.f, y.f);
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
