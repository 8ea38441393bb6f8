#include "passes/refraction.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "core/parallel.hpp"
#include "passes/channels.hpp"
#include "passes/refraction_reference.hpp"

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

// Two kinds of pixel take a shorter way to the kernel's very bits, for
// colour that is finite and not negative and water and drop coverage that is
// never -0, as the droplets leave it: a dry pixel (no water, no drop) is its
// own values plus +0, and streak water without a drop needs no lens samples,
// as its lens term is a zero that changes no sum. Held by the test
// RefractRows.BandsGiveWhatTheWholePassGivesOnEveryKindOfPixel, and the
// coverage by DropletPass.CoverageIsNeverNegativeZero.
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
Rect lens_reads(int width, int height, const Rect& pixels, float offset_x, float above, float below) {
  if (pixels.empty() || width < 1 || height < 1) return {};
  const float wf = float(width);
  const float hf = float(height);
  const auto [first_column, last_column] =
      taps_between((0.85f * wf - 0.3f * float(pixels.x1 - 1)) + 3.0f * -offset_x,
                   (0.85f * wf - 0.3f * float(pixels.x0)) + 3.0f * offset_x, width);
  const auto [first_row, last_row] = taps_between((0.58f * hf - 0.28f * float(pixels.y1 - 1)) + 3.0f * -above,
                                                  (0.58f * hf - 0.28f * float(pixels.y0)) + 3.0f * below, height);
  return {first_column, first_row, last_column + 1, last_row + 1};
}

int first_row_refracted(int y, float above, int height) {
  return taps_between(float(y) + -above, float(y) + -above, height).first;
}

namespace reference {

std::array<float, 4> refract_pixel(const Image& copy, int x, int y, float c0, float c1, float c2, float e, float a,
                                   float ox, float oy, float b) {
  return neonvale::refract(copy, x, y, c0, c1, c2, e, a, ox, oy, b);
}

void refract(Image& scene) {
  const Image copy(scene);  // every read of colour sees the scene as it was
  for (int y = 0; y < scene.height; ++y)
    for (int x = 0; x < scene.width; ++x) {
      const std::array<float, 4> p =
          refract_pixel(copy, x, y, copy.at(kRed, x, y), copy.at(kGreen, x, y), copy.at(kBlue, x, y),
                        copy.at(kEmission, x, y), copy.at(kWater, x, y), copy.at(kOffsetX, x, y),
                        copy.at(kOffsetY, x, y), copy.at(kDrop, x, y));
      for (int c : {kRed, kGreen, kBlue}) scene.at(c, x, y) = p[std::size_t(c)];
      scene.at(kEmission, x, y) = p[3];
    }
}

}  // namespace reference

}  // namespace neonvale
