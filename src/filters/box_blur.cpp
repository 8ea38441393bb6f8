#include "filters/box_blur.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "core/parallel.hpp"
#include "filters/box_blur_reference.hpp"

namespace neonvale {

namespace {

// Positions are formed in 64 bits so that a radius near INT_MAX cannot
// overflow i + R or i - R - 1.
inline long long clamp_index(long long i, long long last) { return std::min(std::max(i, 0LL), last); }

// The magnitude of INT_MIN does not fit an int; one less is the same window
// for every image that can exist.
int radius_magnitude(int radius) { return radius == INT_MIN ? INT_MAX : std::abs(radius); }

// The vertical box sums of n columns, rows of horizontal sums given by
// row(y) for y in [0, last]. Result row 0: R times row 0, then rows 0 to R
// in order (clamped).
template <class Row>
void first_column_sums(const Row& row, long long last, long long r, int n, float* sums) {
  const float* row0 = row(0);
  const float fr = float(r);
  for (int x = 0; x < n; ++x) sums[x] = fr * row0[x];
  for (long long i = 0; i <= r; ++i) add_row(row(std::min(i, last)), sums, n);
}

// Result row y from result row y - 1 in `sums`: the row leaving the window
// first, then the one entering.
template <class Row>
void next_column_sums(const Row& row, long long last, long long r, long long y, int n, float* sums) {
  subtract_row(row(clamp_index(y - r - 1, last)), sums, n);
  add_row(row(clamp_index(y + r, last)), sums, n);
}

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

#if defined(__SSE2__)

namespace {

// Four floats of each of four rows, turned so that each vector holds one
// column of the four rows (and back again, the same way).
inline void transpose_store(const float* const row[4], std::size_t at, float* out) {
  __m128 a = _mm_loadu_ps(row[0] + at);
  __m128 b = _mm_loadu_ps(row[1] + at);
  __m128 c = _mm_loadu_ps(row[2] + at);
  __m128 d = _mm_loadu_ps(row[3] + at);
  _MM_TRANSPOSE4_PS(a, b, c, d);
  _mm_storeu_ps(out, a);
  _mm_storeu_ps(out + 4, b);
  _mm_storeu_ps(out + 8, c);
  _mm_storeu_ps(out + 12, d);
}

// box_sum_row of four rows at once, one row per lane, each lane through the
// same operations in the same order. The rows are first laid out column by
// column with their clamped ends: padded[k] holds column k - R - 1, clamped,
// of each row, so the sample leaving the window at i is padded[i] and the
// one entering padded[i + 2R + 1].
void box_sum_four_rows(const float* const row[4], float* const* out, int count, int n, int r) {
  const long long e = n - 1;
  const std::size_t length = std::size_t(n) + 2 * std::size_t(r) + 1;
  thread_local std::vector<float> padded, sums;
  padded.resize(4 * length);
  sums.resize(4 * std::size_t(n));
  float* p = padded.data();
  const std::size_t lead = std::size_t(r) + 1;  // padded[lead + x] is column x
  for (std::size_t k = 0; k < lead; ++k)
    for (int l = 0; l < 4; ++l) p[4 * k + std::size_t(l)] = row[l][0];
  std::size_t x = 0;
  for (; x + 4 <= std::size_t(n); x += 4) transpose_store(row, x, p + 4 * (lead + x));
  for (; x < std::size_t(n); ++x)
    for (int l = 0; l < 4; ++l) p[4 * (lead + x) + std::size_t(l)] = row[l][x];
  for (std::size_t k = lead + std::size_t(n); k < length; ++k)
    for (int l = 0; l < 4; ++l) p[4 * k + std::size_t(l)] = row[l][e];

  auto column = [&](long long k) { return _mm_loadu_ps(p + 4 * std::size_t(k)); };
  __m128 s = _mm_mul_ps(_mm_set1_ps(float(r)), column(r + 1));
  for (long long i = 0; i <= r; ++i) s = _mm_add_ps(s, column(std::min(i, e) + r + 1));
  float* o = sums.data();
  _mm_storeu_ps(o, s);
  for (long long i = 1; i < n; ++i) {
    s = _mm_add_ps(_mm_sub_ps(s, column(i)), column(i + 2 * r + 1));
    _mm_storeu_ps(o + 4 * std::size_t(i), s);
  }

  // Back to rows; lanes beyond `count` repeat a row and are dropped.
  float block[16];
  for (x = 0; x + 4 <= std::size_t(n); x += 4) {
    const float* const columns[4] = {o + 4 * x, o + 4 * x + 4, o + 4 * x + 8, o + 4 * x + 12};
    transpose_store(columns, 0, block);
    for (int l = 0; l < count; ++l) std::memcpy(out[l] + x, block + 4 * l, 4 * sizeof(float));
  }
  for (; x < std::size_t(n); ++x)
    for (int l = 0; l < count; ++l) out[l][x] = o[4 * x + std::size_t(l)];
}

}  // namespace

#endif

void box_sum_rows(const float* const* in, float* const* out, int count, int n, int radius) {
#if defined(__SSE2__)
  // The four-lane way pays off for several rows and a window no wider than
  // the row (wider ones would pad more than they sum).
  if (count >= 2 && count <= 4 && n >= 4 && radius >= 0 && radius <= n) {
    const float* const row[4] = {in[0], in[count > 1 ? 1 : 0], in[count > 2 ? 2 : 0], in[count > 3 ? 3 : 0]};
    box_sum_four_rows(row, out, count, n, radius);
    return;
  }
#endif
  for (int k = 0; k < count; ++k) box_sum_row(in[k], out[k], n, radius);
}

void box_sum_columns(const float* in, float* out, int w, int h, int radius) {
  // An empty plane has no first row to build.
  if (w < 1 || h < 1) return;
  const std::size_t stride = std::size_t(w);
  const long long last = h - 1;
  const auto in_row = [&](long long y) { return in + std::size_t(y) * stride; };
  first_column_sums(in_row, last, radius, w, out);
  for (long long y = 1; y < h; ++y) {
    float* row = out + std::size_t(y) * stride;
    std::memcpy(row, row - stride, stride * sizeof(float));
    next_column_sums(in_row, last, radius, y, w, row);
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

BoxBlurRows::BoxBlurRows(int width, int height, int channels, int radius)
    : w_(width),
      h_(height),
      channels_(channels),
      r_(radius_magnitude(radius)),
      // A block's results need input rows from y0 - R - 1 to y1 - 1 + R.
      capacity_(int(std::min<long long>(2LL * r_ + 2 + kBlock, height > 0 ? height + 0LL : 1LL))),
      ring_(PlaneBuffer::working(std::size_t(channels) * std::size_t(capacity_) * std::size_t(std::max(width, 0)))),
      columns_(PlaneBuffer::working(std::size_t(channels) * std::size_t(std::max(width, 0)))),
      input_(PlaneBuffer::working(
          std::size_t(channels) * std::size_t(std::min<long long>(2LL * r_ + 1 + kBlock, std::max(height, 1))) *
          std::size_t(std::max(width, 0)))) {}

double BoxBlurRows::scratch_rows(int height, int channels, int radius) {
  const long long r = radius_magnitude(radius);
  const long long h = std::max(height, 1);
  return double(channels) * double(std::min(2 * r + 2 + kBlock, h) + std::min(2 * r + 1 + kBlock, h) + 1);
}

void BoxBlurRows::first_row(int c, int x0, int n, float* sums) {
  first_column_sums([&](long long y) { return ring_row(c, y) + x0; }, h_ - 1, r_, n, sums);
}

void BoxBlurRows::next_row(int c, long long y, int x0, int n, float* sums) {
  next_column_sums([&](long long row) { return ring_row(c, row) + x0; }, h_ - 1, r_, y, n, sums);
}

namespace reference {

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

}  // namespace reference

}  // namespace neonvale
