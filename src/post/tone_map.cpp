#include "post/tone_map.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace neonvale {

namespace {

constexpr float kKey = 0.18f;
constexpr float kGamma = 1.0f / 2.2f;  // 0.45454544f

inline float luminance(float r, float g, float b) { return (g * 0.7152f + r * 0.2126f) + b * 0.0722f; }

}  // namespace

Image tone_map(const Image& colour) {
  const int w = colour.width;
  const int h = colour.height;
  Image out(w, h, 3);
  const std::size_t n = out.plane_size();
  if (n == 0) return out;
  if (colour.channels < 3) throw std::invalid_argument("tone mapping needs three colour channels");

  const float* rin = colour.plane(0);
  const float* gin = colour.plane(1);
  const float* bin = colour.plane(2);

  // Log-average luminance; the sum runs in double so that millions of small
  // terms do not drown. Negative samples count as 0 (and NaN too).
  double log_sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const float r = std::max(0.0f, rin[i]);
    const float g = std::max(0.0f, gin[i]);
    const float b = std::max(0.0f, bin[i]);
    const float l = luminance(r, g, b) + 0.0001f;
    log_sum += double(std::log(l));
  }
  const float average = float(std::exp(log_sum / double(n)));
  const float exposure = kKey / average;

  float* rout = out.plane(0);
  float* gout = out.plane(1);
  float* bout = out.plane(2);
  for (std::size_t i = 0; i < n; ++i) {
    const float r = std::max(0.0f, rin[i]);
    const float g = std::max(0.0f, gin[i]);
    const float b = std::max(0.0f, bin[i]);
    const float scale = exposure / (luminance(r, g, b) * exposure + 1.0f);
    auto map = [scale](float c) {
      float v = scale * c;
      if (!(v < 1.0f)) v = 1.0f;
      v = std::max(v, 0.0f);
      return std::pow(v, kGamma);
    };
    rout[i] = map(r);
    gout[i] = map(g);
    bout[i] = map(b);
  }

  // S-shaped contrast: 3v^2 - 2v^3, keeping 0 and 1 fixed.
  for (float& v : out.data) v = (3.0f - (v + v)) * (v * v);
  return out;
}

}  // namespace neonvale
