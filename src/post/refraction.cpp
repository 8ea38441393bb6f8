#include "post/refraction.hpp"

#include <algorithm>
#include <cstddef>

#include "core/channels.hpp"
#include "core/parallel.hpp"

namespace neonvale {

namespace {

// The colour planes as they were before the pass: planes 0, 1 and 2 of `copy`.
template <class Colour>
std::array<float, 4> refract(const Colour& copy, int x, int y, float c0, float c1, float c2, float e, float a,
                             float ox, float oy, float b) {
  const float xf = float(x);
  const float yf = float(y);
  const float wf = float(copy.width);
  const float hf = float(copy.height);

  // Refraction: the water shows the scene displaced by its offset.
  const float sx = xf + ox;
  const float sy = yf + oy;
  const float s0 = copy.sample(kRed, sx, sy, false);
  const float s1 = copy.sample(kGreen, sx, sy, false);
  const float s2 = copy.sample(kBlue, sx, sy, false);
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
  const float qx = (0.85f * wf - 0.3f * xf) + 3.0f * ox;
  const float qy = (0.58f * hf - 0.28f * yf) + 3.0f * oy;
  c0 = copy.sample(kRed, qx, qy, false) * b * 0.012f + c0;
  c1 = copy.sample(kGreen, qx, qy, false) * b * 0.012f + c1;
  c2 = copy.sample(kBlue, qx, qy, false) * b * 0.012f + c2;

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

}  // namespace neonvale
