#include "passes/ground.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filters/value_noise.hpp"
#include "core/channels.hpp"
#include "core/sampling.hpp"
#include "core/random.hpp"
#include "core/parallel.hpp"

namespace neonvale {

namespace {

constexpr float kHorizon = 0.595f;  // v of the horizon row
constexpr float kGridSpacing = 3.0f;

float clamp01(float x) {
  const float lo = x > 0.0f ? x : 0.0f;
  return lo < 1.0f ? lo : 1.0f;
}

// Distance from `coordinate` to the nearest multiple of the grid spacing; the
// double remainder keeps it in [0, 3) for negative coordinates too.
float distance_to_line(float coordinate) {
  const float rem = fmodf(fmodf(coordinate, kGridSpacing) + kGridSpacing, kGridSpacing);
  return std::min(kGridSpacing - rem, rem);
}

}  // namespace

GroundSample ground_sample(const Image& scene, float u, float v, const Image& warp, const Image& puddle,
                           float grain, int aa_scale) {
  const float e = warp.sample_uv(0, u, v, false) - 0.5f;
  const float p = puddle.sample_uv(0, u, v, false);
  return ground_shade(float(scene.width), float(scene.height), u, v, e, p, grain, aa_scale);
}

GroundSample ground_shade(float w, float h, float u, float v, float e, float p, float grain, int aa_scale) {
  GroundSample s{0, 0, 0, 0, 0, 0, false};
  const float a = float(aa_scale);
  const float below = v - kHorizon;
  if (!(below > 0.0f)) return s;
  const float depth = 1.7f / below;

  // The across coordinate grows with depth without bound near the horizon, so
  // it is formed in double to keep the far lines steady.
  const float aspect = w / h;
  const float across =
      float((double(u) - 0.5) * double(depth) * double(aspect) + double(e) * 0.22);
  const float lx = distance_to_line(across);
  const float along = e * 0.16f + depth;
  const float lz = distance_to_line(along);

  // About one output pixel's footprint on the ground, with floors so that
  // near lines keep a visible width.
  const float wx = std::max(0.013f, (depth / h) * a) * 0.8f;
  const float wz = std::max(0.024f, ((depth * depth) / (h * 1.7f)) * a);
  const float qx = lx / wx;
  const float qz = lz / wz;
  const float c = expf(-(qx * qx));
  const float d = expf(-(qz * qz));
  const float line = std::max(d, c);

  // Lines switch off where the warp noise is low and fade in below the horizon.
  const float strength = clamp01((e + 0.5f - 0.16f) * 1.5f) * clamp01(below * 10.0f) * line;
  const float base = p * 0.027f + 0.009f + grain * 0.01f;

  s.r = strength * 0.65f + base;
  s.g = base * 0.75f + strength * 0.055f;
  s.b = base * 1.8f + strength * 0.65f;
  s.depth = depth;
  s.reflectivity = std::max(std::min((p - 0.36f) * 5.0f, 1.0f), 0.1f);
  s.emission = strength * 0.5f;
  s.hit = true;
  return s;
}

std::vector<float> ground_row_depths(int height) {
  std::vector<float> depths(height > 0 ? std::size_t(height) : 0);
  const float v_scale = float(height) - 1.0f;
  for (int y = 0; y < height; ++y) {
    const float below = float(y) / v_scale - kHorizon;
    depths[std::size_t(y)] = 1.7f / below;
  }
  return depths;
}

void paint_ground(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  // Two noise images, then the shading of the rows below the horizon.
  if (progress) progress->set_total(3LL * scene.height);
  Random rng(seed);
  const std::uint32_t puddle_seed = rng.draw_seed();
  const Image puddle = value_noise(scene.width, scene.height, puddle_seed, 0.18f);
  advance(progress, scene.height);
  const std::uint32_t warp_seed = rng.draw_seed();
  const Image warp = value_noise(scene.width, scene.height, warp_seed, 1.0f);
  advance(progress, scene.height);

  const int width = scene.width;
  const int height = scene.height;
  const float u_scale = float(width) - 1.0f;
  const float v_scale = float(height) - 1.0f;

  // Rows at or above the horizon are never drawn, but every pixel of the
  // buffer takes one grain draw in storage order; the draws of the sky rows
  // are skipped and those of the ground rows kept, so the ground rows can
  // then be shaded in any order.
  int first = 0;
  while (first < height && !(float(first) / v_scale - kHorizon > 0.0f)) ++first;
  const std::size_t stride = std::size_t(width);
  rng.skip(std::size_t(first) * stride);
  std::vector<float> grain(std::size_t(height - first) * stride);
  for (float& g : grain) g = rng.next_float();

  // Both noise images share the size, so they share the column weights.
  std::vector<SampleTap> columns(stride);
  for (int x = 0; x < width; ++x)
    columns[std::size_t(x)] = sample_tap((float(x) / u_scale) * float(width - 1), width, false);

  const std::vector<float*> planes = scene.channel_pointers();
  const float wf = float(width);
  const float hf = float(height);
  advance(progress, first);
  parallel_rows(height - first, width, [&](int begin, int end) {
    for (int y = first + begin; y < first + end; ++y) {
      const float v = float(y) / v_scale;
      const SampleTap row = sample_tap(v * float(height - 1), height, false);
      const std::size_t offset = std::size_t(y) * stride;
      const float* grains = grain.data() + std::size_t(y - first) * stride;
      float* red = planes[kRed] + offset;
      float* green = planes[kGreen] + offset;
      float* blue = planes[kBlue] + offset;
      float* depth = planes[kDepth] + offset;
      float* emission = planes[kEmission] + offset;
      float* reflectivity = planes[kReflectivity] + offset;
      for (int x = 0; x < width; ++x) {
        const float u = float(x) / u_scale;
        const SampleTap column = columns[std::size_t(x)];
        const float e = sample_taps(warp.plane(0), width, column, row) - 0.5f;
        const float p = sample_taps(puddle.plane(0), width, column, row);
        const GroundSample s = ground_shade(wf, hf, u, v, e, p, grains[x], aa_scale);
        // Strictly nearer only: equal depths never overwrite.
        if (s.hit && depth[x] > s.depth) {
          red[x] = s.r;
          green[x] = s.g;
          blue[x] = s.b;
          depth[x] = s.depth;
          reflectivity[x] = s.reflectivity;
          emission[x] = s.emission;
        }
      }
    }
    advance(progress, end - begin);
  });
}

}  // namespace neonvale
