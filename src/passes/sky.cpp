#include "passes/sky.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "passes/box_blur.hpp"
#include "scene/channels.hpp"
#include "scene/random.hpp"

namespace neonvale {

namespace {

constexpr int kOctaves = 5;

inline float clampf(float x, float lo, float hi) { return std::min(std::max(x, lo), hi); }

}  // namespace

int cloud_blur_radius(int height) { return int(std::max(double(float(height)) / 240.0, 1.0)); }

// The cap at 0.88 keeps every cloud translucent.
float shape_cloud(float q) { return std::pow(clampf((q - 0.4f) * 5.0f, 0.0f, 0.88f), 1.2f); }

float sun_stripe(float v) {
  // The offset is taken in double and rounded once.
  const float g = clampf(float(double(v) - 0.45), 0.0f, 1.0f);
  const float k = std::cos(g * 120.0f);
  return std::pow(clampf(2.0f * k * k, 0.0f, 1.0f), 2.7f);
}

Image cloud_cover(int width, int height, int aa_scale, std::uint32_t seed) {
  Image out(width, height, 1);
  Random rng(seed);

  // Fractal noise: five octaves of random grids, each twice as fine as the
  // last and weighted 0.55 times as much, enlarged smoothly to full size.
  float amplitude = 1.0f;
  float total = 0.0f;
  for (int i = 0; i < kOctaves; ++i) {
    Image grid(8 << i, 12 << i, 1);
    for (float& value : grid.data) value = rng.next_float();
    const Image up = resample(grid, width, height, true);
    add_scaled(out, up, amplitude);
    total = total + amplitude;
    amplitude = amplitude * 0.55f;
  }
  for (float& value : out.data) value = value / total;

  // The blur grows with the buffer so the cloud edges look the same at every
  // resolution.
  const int radius = cloud_blur_radius(height);

  // Sideways waves driven by the noise itself and a gentle vertical sway; the
  // displacement is a fixed number of output pixels at every AA scale.
  Image warped(width, height, 1);
  const float sway_x = float(25LL * aa_scale);
  const float sway_y = float(9LL * aa_scale);
  const float wden = float(width) - 1.0f;
  const float hden = float(height) - 1.0f;
  const float* src = out.plane(0);
  float* dst = warped.plane(0);
  for (int y = 0; y < height; ++y) {
    const float phase = (float(y) / hden) * 23.0f;
    const float fy = float(y);
    for (int x = 0; x < width; ++x) {
      const float c = *src++;
      const float sx = float(x) + std::sin(c * 7.0f + phase) * sway_x;
      const float sy = fy + std::sin((float(x) / wden) * 18.0f) * sway_y;
      *dst++ = out.sample(0, sx, sy, true);
    }
  }

  out = box_blur(warped, radius);
  warped = Image();

  // Thin noise is clear sky.
  for (float& q : out.data) q = shape_cloud(q);
  return out;
}

SkySample sky_sample(const Image& scene, float u, float v, float c, int aa_scale) {
  const float w = float(scene.width);
  const float h = float(scene.height);

  // Red-orange band low in the sky.
  const float d = (v - 0.57f) / 0.19f;
  const float band = std::exp(-d * d);
  const float streak = std::sin(2.0f * std::sin(13.0f * u) + 95.0f * v) * std::sin(37.0f * v - 9.0f * u);
  const float wave = std::sin(4.0f * u + 6.0f * v);
  const float swirl = std::sin(std::sin(41.0f * u - 14.0f * v) + (19.0f * u + 8.0f * v));

  const float p = float(std::pow(double(0.25f * swirl + 0.75f), 0.75));
  const float sky_r = p * ((streak * 0.12f + 1.15f) * band) + 0.006f;
  const float sky_g = (streak * 0.018f + 0.17f) * band + 0.012f;
  const float sky_b = wave * wave * 0.025f + (band * 0.028f + 0.065f);

  // Sun disc, its edge softened over one output pixel.
  const float dv = v - 0.49f;
  const float du = ((u - 0.6f) * w) / h;
  const float dist = std::sqrt(dv * dv + du * du);
  const float cover = clampf(((0.143f - dist) * h) / float(aa_scale), 0.0f, 1.0f);

  // Dark horizontal gaps open below v = 0.45.
  const float stripe = sun_stripe(v);

  const float sun = stripe * cover;
  const float keep = 1.0f - sun;

  // Orange light on the clouds near the sun's height, strongest where thin.
  const float j = (v - 0.48f) / 0.15f;
  const float clear = 1.0f - c;
  const float lit = std::exp(-j * j) * clear;

  SkySample s;
  s.r = (keep * sky_r + sun * 5.5f) * clear + (lit * 0.3f + 0.009f) * c;
  s.g = (keep * sky_g + sun * 1.65f) * clear + (lit * 0.045f + 0.012f) * c;
  s.b = (keep * sky_b + sun * 0.19f) * clear + (lit * 0.027f + 0.035f) * c;
  s.depth = kSkyDepth;
  s.emission = (sun * 2.8f + band * 0.055f) * clear;
  return s;
}

void paint_sky(Image& scene, int aa_scale, std::uint32_t seed) {
  if (scene.channels <= kEmission) throw std::invalid_argument("sky needs a scene buffer with an emission plane");
  const int w = scene.width;
  const int h = scene.height;
  const Image cloud = cloud_cover(w, h, aa_scale, seed);
  const std::vector<float*> planes = scene.channel_pointers();

  float* r = planes[kRed];
  float* g = planes[kGreen];
  float* b = planes[kBlue];
  float* depth = planes[kDepth];
  float* emission = planes[kEmission];
  const float* c = cloud.data.data();
  const float wden = float(w) - 1.0f;
  const float hden = float(h) - 1.0f;
  for (int y = 0; y < h; ++y) {
    const float v = float(y) / hden;
    for (int x = 0; x < w; ++x) {
      const float u = float(x) / wden;
      const SkySample s = sky_sample(scene, u, v, *c++, aa_scale);
      *r++ = s.r;
      *g++ = s.g;
      *b++ = s.b;
      *depth++ = s.depth;
      *emission++ = s.emission;
    }
  }
}

}  // namespace neonvale
