#include "post/tone_map.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

constexpr float kKey = 0.18f;
constexpr float kGamma = 1.0f / 2.2f;  // 0.45454544f

inline float luminance(float r, float g, float b) { return (g * 0.7152f + r * 0.2126f) + b * 0.0722f; }

// Scale, clip, gamma, then the S-shaped contrast 3v^2 - 2v^3, which keeps 0
// and 1 fixed.
inline float tone_curve(float scale, float c) {
  float v = scale * c;
  if (!(v < 1.0f)) v = 1.0f;
  v = std::max(v, 0.0f);
  v = std::pow(v, kGamma);
  return (3.0f - (v + v)) * (v * v);
}

}  // namespace

float tone_map_exposure(const Image& colour, StepProgress* progress) {
  if (colour.channels < 3) throw std::invalid_argument("tone mapping needs three colour channels");
  const int w = colour.width;
  const int h = colour.height;
  const std::size_t n = colour.plane_size();
  const float* rin = colour.plane(0);
  const float* gin = colour.plane(1);
  const float* bin = colour.plane(2);

  // Log-average luminance; the sum runs in double so that millions of small
  // terms do not drown, and in storage order. The logarithms of a band of
  // rows are taken in parallel, then added one by one. Negative samples (and
  // NaN) count as 0.
  const std::size_t stride = std::size_t(w);
  constexpr int kBand = 128;
  std::vector<float> logs(std::size_t(std::min(kBand, h)) * stride);
  double log_sum = 0.0;
  for (int band = 0; band < h; band += kBand) {
    const int rows = std::min(kBand, h - band);
    parallel_rows(rows, w, [&](int begin, int end) {
      for (std::size_t j = std::size_t(begin) * stride; j < std::size_t(end) * stride; ++j) {
        const std::size_t i = std::size_t(band) * stride + j;
        const float r = std::max(0.0f, rin[i]);
        const float g = std::max(0.0f, gin[i]);
        const float b = std::max(0.0f, bin[i]);
        logs[j] = std::log(luminance(r, g, b) + 0.0001f);
      }
    });
    advance(progress, rows);
    const std::size_t count = std::size_t(rows) * stride;
    for (std::size_t j = 0; j < count; ++j) log_sum += double(logs[j]);
  }
  const float average = float(std::exp(log_sum / double(n)));
  return kKey / average;
}

void tone_map_run(float exposure, const float* rin, const float* gin, const float* bin, float* rout, float* gout,
                  float* bout, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const float r = std::max(0.0f, rin[i]);
    const float g = std::max(0.0f, gin[i]);
    const float b = std::max(0.0f, bin[i]);
    const float scale = exposure / (luminance(r, g, b) * exposure + 1.0f);
    rout[i] = tone_curve(scale, r);
    gout[i] = tone_curve(scale, g);
    bout[i] = tone_curve(scale, b);
  }
}

Image tone_map(const Image& colour) {
  Image out(colour.width, colour.height, 3);
  tone_map_into(colour, out);
  return out;
}

void tone_map_in_place(Image& colour, StepProgress* progress) { tone_map_into(colour, colour, progress); }

void tone_map_into(const Image& colour, Image& out, StepProgress* progress) {
  const int w = colour.width;
  const int h = colour.height;
  if (out.plane_size() == 0) return;
  // The logarithms and the mapping each take one pass over the rows.
  if (progress) progress->set_total(2LL * h);
  const float exposure = tone_map_exposure(colour, progress);
  const std::size_t stride = std::size_t(w);
  parallel_rows(h, w, [&](int begin, int end) {
    const std::size_t at = std::size_t(begin) * stride;
    const std::size_t n = std::size_t(end - begin) * stride;
    tone_map_run(exposure, colour.plane(0) + at, colour.plane(1) + at, colour.plane(2) + at, out.plane(0) + at,
                 out.plane(1) + at, out.plane(2) + at, n);
    advance(progress, end - begin);
  });
}

}  // namespace neonvale
