#include "filters/box_blur.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

// Positions are formed in 64 bits so that a radius near INT_MAX cannot
// overflow i + R or i - R - 1.
inline long long clamp_index(long long i, long long last) { return std::min(std::max(i, 0LL), last); }

// The magnitude of INT_MIN does not fit an int; one less is the same window
// for every image that can exist.
int radius_magnitude(int radius) { return radius == INT_MIN ? INT_MAX : std::abs(radius); }

}  // namespace

void box_sum_row(const float* in, float* out, int n, int radius) {
  if (n < 1) return;
  const long long r = radius;
  const long long e = n - 1;
  // The R samples left of the row clamp to in[0]; those past the end to in[e].
  float s = float(radius) * in[0];
  for (long long i = 0; i <= r; ++i) s += in[std::min(i, e)];
  out[0] = s;
  for (long long i = 1; i < n; ++i) out[i] = (out[i - 1] - in[clamp_index(i - r - 1, e)]) + in[clamp_index(i + r, e)];
}

void box_sum_columns(const float* in, float* out, int w, int h, int radius) {
  // An empty plane has no first row to build.
  const int n = w;
  const std::size_t stride = std::size_t(w);
  if (n < 1 || h < 1) return;
  const long long r = radius;
  const long long e = h - 1;
  auto in_row = [&](long long y) { return in + std::size_t(y) * stride; };
  auto out_row = [&](long long y) { return out + std::size_t(y) * stride; };

  const float fr = float(radius);
  for (int x = 0; x < n; ++x) out[x] = fr * in[x];
  for (long long i = 0; i <= r; ++i) add_row(in_row(std::min(i, e)), out, n);
  if (h < 2) return;
  for (long long y = 1; y < h; ++y) {
    float* row = out_row(y);
    std::memcpy(row, out_row(y - 1), std::size_t(n) * sizeof(float));
    subtract_row(in_row(clamp_index(y - r - 1, e)), row, n);
    add_row(in_row(clamp_index(y + r, e)), row, n);
  }
}

void add_row(const float* in, float* out, int n) {
  for (int i = 0; i < n; ++i) out[i] += in[i];
}

void subtract_row(const float* in, float* out, int n) {
  for (int i = 0; i < n; ++i) out[i] -= in[i];
}

float box_window_scale(int radius) {
  // In 64 bits: (2R+1)^2 overflows an int for radii above 23169.
  const long long side = 2LL * radius_magnitude(radius) + 1;
  return 1.0f / float(side * side);
}

RingBoxBlur::RingBoxBlur(int width, int height, int channels, int radius)
    : w_(width),
      h_(height),
      channels_(channels),
      r_(radius_magnitude(radius)),
      // A block's results need input rows from y0 - R - 1 to y1 - 1 + R.
      capacity_(int(std::min<long long>(2LL * r_ + 2 + kBlock, height > 0 ? height + 0LL : 1LL))),
      ring_(std::size_t(channels) * std::size_t(capacity_) * std::size_t(std::max(width, 0))),
      columns_(std::size_t(channels) * std::size_t(std::max(width, 0))),
      input_(std::size_t(channels) * std::size_t(std::min<long long>(2LL * r_ + 1 + kBlock, std::max(height, 1))) *
             std::size_t(std::max(width, 0))) {}

double RingBoxBlur::scratch_rows(int height, int channels, int radius) {
  const long long r = radius_magnitude(radius);
  const long long h = std::max(height, 1);
  return double(channels) * double(std::min(2 * r + 2 + kBlock, h) + std::min(2 * r + 1 + kBlock, h) + 1);
}

// Row 0: R times input row 0, then input rows 0 to R in order (clamped).
void RingBoxBlur::first_row(int c, int x0, int n, float* sums) {
  const long long last = h_ - 1;
  const float* row0 = ring_row(c, 0) + x0;
  const float fr = float(r_);
  for (int x = 0; x < n; ++x) sums[x] = fr * row0[x];
  for (long long i = 0; i <= r_; ++i) add_row(ring_row(c, std::min(i, last)) + x0, sums, n);
}

// Row y from row y - 1: the row leaving the window first, then the one entering.
void RingBoxBlur::next_row(int c, long long y, int x0, int n, float* sums) {
  const long long last = h_ - 1;
  subtract_row(ring_row(c, clamp_index(y - r_ - 1, last)) + x0, sums, n);
  add_row(ring_row(c, clamp_index(y + r_, last)) + x0, sums, n);
}

Image box_blur(const Image& source, int radius) {
  const int w = source.width;
  const int h = source.height;
  const int channels = source.channels;
  if (w == 0 || h == 0 || channels == 0) return Image(w, h, channels);
  // A window of one sample is the identity; the running sums would turn an
  // infinite sample into NaN through 0 * inf.
  if (radius == 0) return source;
  const int r = radius_magnitude(radius);
  Image sums(w, h, channels);
  for (int row = 0; row < h * channels; ++row)
    box_sum_row(source.data.data() + std::size_t(row) * std::size_t(w),
                sums.data.data() + std::size_t(row) * std::size_t(w), w, r);
  Image out(w, h, channels);
  for (int c = 0; c < channels; ++c) box_sum_columns(sums.plane(c), out.plane(c), w, h, r);
  const float k = box_window_scale(r);
  for (float& v : out.data) v *= k;
  return out;
}

}  // namespace neonvale
