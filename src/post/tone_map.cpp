#include "post/tone_map.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "core/parallel.hpp"
#include "maths/batch_math.hpp"
#include "maths/clamp.hpp"
#include "post/tone_map_reference.hpp"

namespace neonvale {

namespace {

constexpr float kKey = 0.18f;
constexpr float kGamma = 1.0f / 2.2f;  // 0.45454544f

inline float luminance(float r, float g, float b) { return (g * 0.7152f + r * 0.2126f) + b * 0.0722f; }

// The tone curve: scale and clip (below), gamma, then the S-shaped contrast
// 3v^2 - 2v^3, which keeps 0 and 1 fixed.
inline float scale_and_clip(float scale, float c) { return clamp<NanGoes::kHigh>(scale * c, 0.0f, 1.0f); }

inline float contrast(float v) { return (3.0f - (v + v)) * (v * v); }

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
  // terms do not drown, and in storage order. The logarithms are taken a
  // band of rows at a time, in parallel; while one thread adds up a band's,
  // one after the other, the others take the next band's. Negative samples
  // (and NaN) count as 0.
  const std::size_t stride = std::size_t(w);
  constexpr int kBand = 128;
  const int bands = (h + kBand - 1) / kBand;
  const std::size_t band_size = std::size_t(std::min(kBand, h)) * stride;
  std::vector<float> logs(2 * band_size);  // two bands: one being added, one being taken
  auto band_rows = [&](int band) { return std::min(kBand, h - band * kBand); };
  auto band_logs = [&](int band) { return logs.data() + std::size_t(band % 2) * band_size; };
  auto take_logs = [&](int band, int row_begin, int row_end) {
    float* out = band_logs(band);
    const std::size_t first = std::size_t(band) * std::size_t(kBand) * stride;
    const std::size_t begin = std::size_t(row_begin) * stride;
    const std::size_t end = std::size_t(row_end) * stride;
    for (std::size_t j = begin; j < end; ++j) {
      const std::size_t i = first + j;
      const float r = std::max(0.0f, rin[i]);
      const float g = std::max(0.0f, gin[i]);
      const float b = std::max(0.0f, bin[i]);
      out[j] = luminance(r, g, b) + 0.0001f;
    }
    neonvale::logs(out + begin, out + begin, end - begin);
  };
  double log_sum = 0.0;
  auto add_logs = [&](int band) {
    const float* in = band_logs(band);
    const std::size_t count = std::size_t(band_rows(band)) * stride;
    for (std::size_t j = 0; j < count; ++j) log_sum += double(in[j]);
  };
  parallel_rows(band_rows(0), w, [&](int begin, int end) { take_logs(0, begin, end); });
  for (int band = 0; band < bands; ++band) {
    // Job 0 adds this band; job 1 + k takes row k of the next.
    const int next_rows = band + 1 < bands ? band_rows(band + 1) : 0;
    parallel_for(1 + next_rows, [&](int begin, int end) {
      for (int job = begin; job < end; ++job) {
        if (job == 0)
          add_logs(band);
        else
          take_logs(band + 1, job - 1, job);
      }
    });
    advance(progress, band_rows(band));
  }
  const float average = float(std::exp(log_sum / double(n)));
  return kKey / average;
}

void tone_map_run(float exposure, const float* rin, const float* gin, const float* bin, float* rout, float* gout,
                  float* bout, std::size_t n) {
  // A run at a time: the clipped values, their powers all together, then
  // the contrast, each step in place in the output.
  constexpr std::size_t kRun = 1024;
  float* const out[3] = {rout, gout, bout};
  for (std::size_t at = 0; at < n; at += kRun) {
    const std::size_t end = std::min(n, at + kRun);
    for (std::size_t i = at; i < end; ++i) {
      const float r = std::max(0.0f, rin[i]);
      const float g = std::max(0.0f, gin[i]);
      const float b = std::max(0.0f, bin[i]);
      const float scale = exposure / (luminance(r, g, b) * exposure + 1.0f);
      rout[i] = scale_and_clip(scale, r);
      gout[i] = scale_and_clip(scale, g);
      bout[i] = scale_and_clip(scale, b);
    }
    for (float* o : out) {
      powers(o + at, o + at, end - at, kGamma);
      for (std::size_t i = at; i < end; ++i) o[i] = contrast(o[i]);
    }
  }
}

namespace reference {

Image tone_map(const Image& colour) {
  Image out(colour.width, colour.height, 3);
  if (out.plane_size() == 0) return out;
  const float exposure = tone_map_exposure(colour);
  const std::size_t n = out.plane_size();
  tone_map_run(exposure, colour.plane(0), colour.plane(1), colour.plane(2), out.plane(0), out.plane(1), out.plane(2),
               n);
  return out;
}

}  // namespace reference

}  // namespace neonvale
