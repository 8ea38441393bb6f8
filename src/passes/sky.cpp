#include "passes/sky.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "filters/box_blur.hpp"
#include "core/channels.hpp"
#include "core/sampling.hpp"
#include "core/random.hpp"
#include "core/parallel.hpp"

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

Image cloud_cover(int width, int height, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  Image out(width, height, 1);
  Random rng(seed);
  float* values = out.plane(0);
  const std::size_t stride = std::size_t(width);

  // Fractal noise: five octaves of random grids, each twice as fine as the
  // last and weighted 0.55 times as much, enlarged smoothly to full size. Each
  // enlarged value is added as it is sampled (corner-aligned, smoothstep
  // weights), the same sum as enlarging the octave whole and adding it.
  float amplitude = 1.0f;
  float total = 0.0f;
  for (int i = 0; i < kOctaves; ++i) {
    Image grid(8 << i, 12 << i, 1);
    for (float& value : grid.data) value = rng.next_float();
    const float wden = float(width) - 1.0f;
    const float hden = float(height) - 1.0f;
    const float sw = float(grid.width - 1);
    const float sh = float(grid.height - 1);
    std::vector<SampleTap> columns(stride);
    for (int k = 0; k < width; ++k) columns[std::size_t(k)] = sample_tap((float(k) / wden) * sw, grid.width, true);
    const float* g = grid.plane(0);
    const float a = amplitude;
    parallel_rows(height, width, [&](int begin, int end) {
      for (int j = begin; j < end; ++j) {
        const SampleTap row = sample_tap(sh * (float(j) / hden), grid.height, true);
        float* o = values + std::size_t(j) * stride;
        for (int k = 0; k < width; ++k) o[k] += sample_taps(g, grid.width, columns[std::size_t(k)], row) * a;
      }
      advance(progress, end - begin);
    });
    total = total + amplitude;
    amplitude = amplitude * 0.55f;
  }
  parallel_rows(height, width, [&](int begin, int end) {
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i) values[i] = values[i] / total;
    advance(progress, end - begin);
  });

  // The blur grows with the buffer so the cloud edges look the same at every
  // resolution.
  const int radius = cloud_blur_radius(height);

  // Sideways waves driven by the noise itself and a gentle vertical sway; the
  // displacement is a fixed number of output pixels at every AA scale.
  Image warped(width, height, 1);
  {
    const float sway_x = float(25LL * aa_scale);
    const float sway_y = float(9LL * aa_scale);
    const float wden = float(width) - 1.0f;
    const float hden = float(height) - 1.0f;
    std::vector<float> sway(stride);  // the vertical sway depends on the column only
    for (int x = 0; x < width; ++x) sway[std::size_t(x)] = std::sin((float(x) / wden) * 18.0f) * sway_y;
    float* warped_values = warped.plane(0);
    parallel_rows(height, width, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const float phase = (float(y) / hden) * 23.0f;
        const float fy = float(y);
        const float* src = values + std::size_t(y) * stride;
        float* dst = warped_values + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
          const float sx = float(x) + std::sin(src[x] * 7.0f + phase) * sway_x;
          const float sy = fy + sway[std::size_t(x)];
          dst[x] = sample_plane(values, width, height, sx, sy, true);
        }
      }
      advance(progress, end - begin);
    });
  }

  out = Image();  // the blur's sums take its storage
  box_blur_in_place(warped, radius);
  advance(progress, height);
  out = std::move(warped);

  // Thin noise is clear sky.
  values = out.plane(0);
  parallel_rows(height, width, [&](int begin, int end) {
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i)
      values[i] = shape_cloud(values[i]);
    advance(progress, end - begin);
  });
  return out;
}

SkyRow sky_row(float v) {
  SkyRow row;
  const float d = (v - 0.57f) / 0.19f;
  row.band = std::exp(-d * d);
  row.dv = v - 0.49f;
  row.stripe = sun_stripe(v);
  const float j = (v - 0.48f) / 0.15f;
  row.light = std::exp(-j * j);
  return row;
}

SkyColumn sky_column(float u, float width, float height) {
  SkyColumn column;
  column.sin13u = std::sin(13.0f * u);
  column.du = ((u - 0.6f) * width) / height;
  return column;
}

SkySample sky_shade(const SkyRow& row, const SkyColumn& column, float u, float v, float c, float height,
                    int aa_scale) {
  // Red-orange band low in the sky, streaked and swirled.
  const float band = row.band;
  const float streak = std::sin(2.0f * column.sin13u + 95.0f * v) * std::sin(37.0f * v - 9.0f * u);
  const float wave = std::sin(4.0f * u + 6.0f * v);
  const float swirl = std::sin(std::sin(41.0f * u - 14.0f * v) + (19.0f * u + 8.0f * v));

  const float p = float(std::pow(double(0.25f * swirl + 0.75f), 0.75));
  const float sky_r = p * ((streak * 0.12f + 1.15f) * band) + 0.006f;
  const float sky_g = (streak * 0.018f + 0.17f) * band + 0.012f;
  const float sky_b = wave * wave * 0.025f + (band * 0.028f + 0.065f);

  // Sun disc, its edge softened over one output pixel.
  const float dist = std::sqrt(row.dv * row.dv + column.du * column.du);
  const float cover = clampf(((0.143f - dist) * height) / float(aa_scale), 0.0f, 1.0f);

  // Dark horizontal gaps open below v = 0.45.
  const float sun = row.stripe * cover;
  const float keep = 1.0f - sun;

  // Orange light on the clouds near the sun's height, strongest where thin.
  const float clear = 1.0f - c;
  const float lit = row.light * clear;

  SkySample s;
  s.r = (keep * sky_r + sun * 5.5f) * clear + (lit * 0.3f + 0.009f) * c;
  s.g = (keep * sky_g + sun * 1.65f) * clear + (lit * 0.045f + 0.012f) * c;
  s.b = (keep * sky_b + sun * 0.19f) * clear + (lit * 0.027f + 0.035f) * c;
  s.depth = kSkyDepth;
  s.emission = (sun * 2.8f + band * 0.055f) * clear;
  return s;
}

SkySample sky_sample(const Image& scene, float u, float v, float c, int aa_scale) {
  const float w = float(scene.width);
  const float h = float(scene.height);
  return sky_shade(sky_row(v), sky_column(u, w, h), u, v, c, h, aa_scale);
}

void paint_sky(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  if (scene.channels <= kEmission) throw std::invalid_argument("sky needs a scene buffer with an emission plane");
  const int w = scene.width;
  const int h = scene.height;
  // A shaded row costs about as much as four rows of the cloud cover's passes.
  constexpr int kShadeWeight = 4;
  if (progress) progress->set_total((long long)h * (kCloudRowPasses + kShadeWeight));
  const Image cloud = cloud_cover(w, h, aa_scale, seed, progress);
  const std::vector<float*> planes = scene.channel_pointers();

  const float wden = float(w) - 1.0f;
  const float hden = float(h) - 1.0f;
  const float wf = float(w);
  const float hf = float(h);
  std::vector<SkyColumn> columns(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) columns[std::size_t(x)] = sky_column(float(x) / wden, wf, hf);

  parallel_rows(h, w, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float v = float(y) / hden;
      const SkyRow row = sky_row(v);
      const std::size_t offset = std::size_t(y) * std::size_t(w);
      const float* c = cloud.plane(0) + offset;
      float* r = planes[kRed] + offset;
      float* g = planes[kGreen] + offset;
      float* b = planes[kBlue] + offset;
      float* depth = planes[kDepth] + offset;
      float* emission = planes[kEmission] + offset;
      for (int x = 0; x < w; ++x) {
        const float u = float(x) / wden;
        const SkySample s = sky_shade(row, columns[std::size_t(x)], u, v, c[x], hf, aa_scale);
        r[x] = s.r;
        g[x] = s.g;
        b[x] = s.b;
        depth[x] = s.depth;
        emission[x] = s.emission;
      }
    }
    advance(progress, (long long)(end - begin) * kShadeWeight);
  });
}

}  // namespace neonvale
