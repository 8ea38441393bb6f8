#include "post/color_grade.hpp"

#include "core/parallel.hpp"
#include "core/sampling.hpp"
#include "maths/clamp.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace neonvale {

namespace {

// int(e) truncated toward zero, then clamped to [0, top]. Clamping the float
// first gives the same index for every finite e and keeps the conversion
// defined for values far outside the int range (and NaN, which picks 0).
inline int slice_index(float e, int top) {
  if (!(e > 0.0f)) return 0;
  if (e >= float(top)) return top;
  return std::min(std::max(int(e), 0), top);
}

}  // namespace

std::array<float, 3> sample_color_grader(float r, float g, float b, const Image& grader) {
  const int s = grader.width;
  const float m = float(s - 1);
  // Red picks two neighbouring slices; the fraction comes from the unclamped
  // product, so it stays 0 at the ends of the range.
  const float e = m * r;
  const int ri = slice_index(e, s - 1);
  const float f = e - float(ri);
  // Green and blue stay within one slice, so the bilinear sample never mixes
  // rows of two slices.
  const float yg = clamp<NanGoes::kHigh>(g, 0.0f, 1.0f) * m;
  const float xb = clamp<NanGoes::kHigh>(b, 0.0f, 1.0f) * m;
  const float y0 = float(s * ri) + yg;
  const float y1 = float(s * std::min(ri + 1, s - 1)) + yg;
  const PixelTaps lower_taps = grader.taps(xb, y0, false);
  const PixelTaps upper_taps = {lower_taps.x, grader.taps(xb, y1, false).y};
  std::array<float, 3> out{};
  for (int k = 0; k < 3; ++k) {
    const float lower = grader.sample(k, lower_taps);
    const float upper = grader.sample(k, upper_taps);
    out[std::size_t(k)] = lerp(lower, upper, f);
  }
  return out;
}

void apply_color_grader(Image& out, const Image& grader, StepProgress* progress) {
  // An empty grader would leave the lookup nothing to read, so it is refused
  // with the malformed-cube message as well.
  if (grader.width <= 0 || (long long)grader.width * grader.width != (long long)grader.height)
    throw std::invalid_argument("invalid color grader dimensions");
  if (grader.channels < 3) throw std::invalid_argument("invalid grader channel count");
  if (out.channels != 3) throw std::invalid_argument("invalid image channel count");

  float* const r = out.plane(0);
  float* const g = out.plane(1);
  float* const b = out.plane(2);
  const std::size_t stride = std::size_t(out.width);
  if (progress) progress->set_total(out.height);
  parallel_rows(out.height, out.width, [&](int begin, int end) {
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i) {
      const std::array<float, 3> c = sample_color_grader(r[i], g[i], b[i], grader);
      r[i] = c[0];
      g[i] = c[1];
      b[i] = c[2];
    }
    advance(progress, end - begin);
  });
}

}  // namespace neonvale
