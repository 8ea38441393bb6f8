#include "post/refraction.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "core/channels.hpp"
#include "core/parallel.hpp"

namespace neonvale {

namespace {

// The colour planes as they were before the pass: planes 0, 1 and 2 of `copy`.
// kLens false leaves out the small image inside drops, which changes no bit
// where the drop coverage b is +0 (see refract_rows).
template <bool kLens = true, class Colour>
std::array<float, 4> refract(const Colour& copy, int x, int y, float c0, float c1, float c2, float e, float a,
                             float ox, float oy, float b) {
  const float xf = float(x);
  const float yf = float(y);
  const float wf = float(copy.width);
  const float hf = float(copy.height);

  // Refraction: the water shows the scene displaced by its offset.
  const float sx = xf + ox;
  const float sy = yf + oy;
  const PixelTaps displaced = copy.taps(sx, sy, false);
  const float s0 = copy.sample(kRed, displaced);
  const float s1 = copy.sample(kGreen, displaced);
  const float s2 = copy.sample(kBlue, displaced);
  const float t = 0.95f * a;
  c0 = (1.0f - t) * c0 + t * s0;
  c1 = (1.0f - t) * c1 + t * s1;
  c2 = (1.0f - t) * c2 + t * s2;

  // Streaks catch a little light; drops are excluded by their own coverage.
  const float w = 0.025f * std::max(a - b, 0.0f);
  c0 = c0 + w;
  c1 = c1 + w;
  c2 = c2 + w;

  // Inside a drop: a small image of the scene, mirrored in both axes, as a
  // lens would show it.
  if (kLens) {
    const float qx = (0.85f * wf - 0.3f * xf) + 3.0f * ox;
    const float qy = (0.58f * hf - 0.28f * yf) + 3.0f * oy;
    const PixelTaps lens = copy.taps(qx, qy, false);
    c0 = copy.sample(kRed, lens) * b * 0.012f + c0;
    c1 = copy.sample(kGreen, lens) * b * 0.012f + c1;
    c2 = copy.sample(kBlue, lens) * b * 0.012f + c2;
  }

  // Bright water feeds the glow.
  const float brightest = std::max(std::max(c0, c1), c2);
  e = std::min(3.0f, brightest) * a * 0.08f + e;
  return {c0, c1, c2, e};
}

}  // namespace

std::array<float, 4> droplet_pixel(const Image& copy, int x, int y, float c0, float c1, float c2, float e,
                                   float a, float ox, float oy, float b) {
  return refract(copy, x, y, c0, c1, c2, e, a, ox, oy, b);
}

void apply_droplets(Image& scene, StepProgress* progress) {
  // Offsets read neighbouring pixels, so every read of colour goes to an
  // unchanged copy of the colour planes. The pass writes nothing else, and
  // each pixel reads its own emission and water channels before it writes.
  Image copy(scene.width, scene.height, 3);
  copy.copy_channels(scene);
  const float* const r = copy.plane(kRed);
  const float* const g = copy.plane(kGreen);
  const float* const bl = copy.plane(kBlue);
  const float* const ox = scene.plane(kOffsetX);
  const float* const oy = scene.plane(kOffsetY);
  const float* const water = scene.plane(kWater);
  const float* const drop = scene.plane(kDrop);
  float* const out_r = scene.plane(kRed);
  float* const out_g = scene.plane(kGreen);
  float* const out_b = scene.plane(kBlue);
  float* const out_e = scene.plane(kEmission);
  const std::size_t stride = std::size_t(scene.width);
  if (progress) progress->set_total(scene.height);
  parallel_rows(scene.height, scene.width, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      for (int x = 0; x < scene.width; ++x) {
        const std::size_t i = std::size_t(y) * stride + std::size_t(x);
        const std::array<float, 4> p =
            refract(copy, x, y, r[i], g[i], bl[i], out_e[i], water[i], ox[i], oy[i], drop[i]);
        out_r[i] = p[0];
        out_g[i] = p[1];
        out_b[i] = p[2];
        out_e[i] = p[3];
      }
    }
    advance(progress, end - begin);
  });
}

// Two kinds of pixel take a shorter way to the very same bits. Below, 0 is
// +0; a is the water, b the drop coverage, c a colour value and e the
// emission; s and q are the bilinear samples near the pixel and in the lens.
//
// What the proof rests on. Every colour value of `before` is finite and not
// negative (-0 included), so s and q are finite. Round to nearest gives
// x + (+-0) == x for x != 0, +0 + (+-0) == +0, -0 + -0 == -0, and a sum is
// -0 only when both terms are. Water and drop coverage are never -0, so
// a == 0 and b == 0 mean +0: the painters store max(min(water + g, 1), 0)
// with g = exp(..) * pow(max(sin(..), 0), 0.7), both factors at least +0,
// and max(mask, ..) with mask = min(max(9 g', 0), 1), where g' = 1 - (..)
// is a difference and therefore never -0.
//
// Dry pixels (a == 0, b == 0). t = 0.95 a = 0 and 1 - t = 1, so
// c1 = 1 * c + t * s = c + (+-0). The streak light w = 0.025 max(a - b, 0)
// is 0, so c2 = c1 + 0, which is c for c != 0 and +0 for c = +-0: c2 = c + 0.
// The lens term q * b * 0.012 is +-0 and c2 is not -0, so c3 = c2. The
// brightest c3 is at least +0; min(3, it) * a * 0.08 is 0, and the emission
// becomes 0 + e = e + 0. So a dry pixel is its own values plus 0: unchanged,
// except that a -0 turns into +0. Adding 0 rather than skipping the pixel
// outright keeps that case too. The offsets only move samples whose value
// does not enter.
//
// Streak water without a drop (b == 0, a > 0). w = 0.025 a is at least +0,
// so c2 = c1 + w is not -0, and the lens term +-0 leaves it: the three lens
// samples are not needed.
namespace {

template <class Before>
void refract_rows_of(const ImagePlanes& scene, const Before& before, const ImagePlanes& water, int y0) {
  for (int r = 0; r < water.height; ++r) {
    const int y = y0 + r;
    const float* const ox = water.row(kOffsetX, r);
    const float* const oy = water.row(kOffsetY, r);
    const float* const wet = water.row(kWater, r);
    const float* const drop = water.row(kDrop, r);
    const float* const red = before.row(kRed, y);
    const float* const green = before.row(kGreen, y);
    const float* const blue = before.row(kBlue, y);
    float* const out_r = scene.row(kRed, y);
    float* const out_g = scene.row(kGreen, y);
    float* const out_b = scene.row(kBlue, y);
    float* const out_e = scene.row(kEmission, y);
    for (int x = 0; x < scene.width; ++x) {
      const float a = wet[x];
      const float b = drop[x];
      std::array<float, 4> p;
      if (a == 0.0f && b == 0.0f) {
        p = {red[x] + 0.0f, green[x] + 0.0f, blue[x] + 0.0f, out_e[x] + 0.0f};
      } else if (b == 0.0f) {
        p = refract<false>(before, x, y, red[x], green[x], blue[x], out_e[x], a, ox[x], oy[x], b);
      } else {
        p = refract(before, x, y, red[x], green[x], blue[x], out_e[x], a, ox[x], oy[x], b);
      }
      out_r[x] = p[0];
      out_g[x] = p[1];
      out_b[x] = p[2];
      out_e[x] = p[3];
    }
  }
}

// The taps of coordinates between `low` and `high`, with a margin of one on
// each side: rounding a sum or a product is monotone in each operand, and so
// are sample_tap's clamp, truncation and neighbour.
std::pair<int, int> taps_between(float low, float high, int size) {
  return {std::max(sample_tap(low, size, false).i0 - 1, 0), std::min(sample_tap(high, size, false).i1 + 1, size - 1)};
}

}  // namespace

void refract_rows(const ImagePlanes& scene, const ImagePlanes& before, const ImagePlanes& water, int y0) {
  refract_rows_of(scene, before, water, y0);
}

void refract_rows(const ImagePlanes& scene, const RowTable& before, const ImagePlanes& water, int y0) {
  refract_rows_of(scene, before, water, y0);
}

// The lens coordinates are (0.85 w - 0.3 x) + 3 ox and (0.58 h - 0.28 y) + 3 oy,
// falling with the pixel's position and rising with its offset.
ReadArea lens_reads(int width, int height, int x_begin, int x_end, int y_begin, int y_end, float offset_x,
                    float above, float below) {
  ReadArea area;
  if (x_end <= x_begin || y_end <= y_begin || width < 1 || height < 1) return area;
  const float wf = float(width);
  const float hf = float(height);
  const auto [first_column, last_column] =
      taps_between((0.85f * wf - 0.3f * float(x_end - 1)) + 3.0f * -offset_x,
                   (0.85f * wf - 0.3f * float(x_begin)) + 3.0f * offset_x, width);
  const auto [first_row, last_row] = taps_between((0.58f * hf - 0.28f * float(y_end - 1)) + 3.0f * -above,
                                                  (0.58f * hf - 0.28f * float(y_begin)) + 3.0f * below, height);
  area.first_row = first_row;
  area.last_row = last_row;
  area.first_column = first_column;
  area.last_column = last_column;
  return area;
}

int first_row_refracted(int y, float above, int height) {
  return taps_between(float(y) + -above, float(y) + -above, height).first;
}

}  // namespace neonvale
