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
  box_sum_columns_strided(in, out, w, std::size_t(w), h, radius);
}

void box_sum_columns_strided(const float* in, float* out, int n, std::size_t stride, int h, int radius) {
  // An empty plane has no first row to build.
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

namespace {

// Horizontal box sums of every row of `source` into `sums`.
void sum_rows(const Image& source, Image& sums, int r) {
  const std::size_t stride = std::size_t(source.width);
  parallel_rows(source.height * source.channels, source.width, [&](int begin, int end) {
    for (int row = begin; row < end; ++row)
      box_sum_row(source.data.data() + std::size_t(row) * stride, sums.data.data() + std::size_t(row) * stride,
                  source.width, r);
  });
}

// Vertical box sums of `sums` into `out`, scaled by the window's area.
// Columns are independent, so the sums run on strips of columns; each strip
// is scaled once its sums are complete.
void sum_columns(const Image& sums, Image& out, int r) {
  const int w = sums.width;
  const int h = sums.height;
  const std::size_t stride = std::size_t(w);
  // The window's area in 64 bits, converted once: (2R+1)^2 overflows an int
  // for radii above 23169.
  const long long side = 2LL * r + 1;
  const float k = 1.0f / float(side * side);
  constexpr int kStrip = 256;
  const int strips = (w + kStrip - 1) / kStrip;
  parallel_for(strips * sums.channels, [&](int begin, int end) {
    for (int job = begin; job < end; ++job) {
      const int c = job / strips;
      const int x0 = (job % strips) * kStrip;
      const int n = std::min(kStrip, w - x0);
      float* o = out.plane(c) + x0;
      box_sum_columns_strided(sums.plane(c) + x0, o, n, stride, h, r);
      for (int y = 0; y < h; ++y) {
        float* row = o + std::size_t(y) * stride;
        for (int x = 0; x < n; ++x) row[x] *= k;
      }
    }
  });
}

// The magnitude of INT_MIN does not fit an int; one less is the same window
// for every image that can exist.
int radius_magnitude(int radius) { return radius == INT_MIN ? INT_MAX : std::abs(radius); }

}  // namespace

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
  const long long side = 2LL * r + 1;
  const float k = 1.0f / float(side * side);
  for (float& v : out.data) v *= k;
  return out;
}

void box_blur_in_place(Image& image, int radius) {
  if (image.width == 0 || image.height == 0 || image.channels == 0 || radius == 0) return;
  const int r = radius_magnitude(radius);
  Image sums(image.width, image.height, image.channels);
  sum_rows(image, sums, r);
  sum_columns(sums, image, r);
}

}  // namespace neonvale
