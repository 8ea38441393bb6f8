#include "passes/ground.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "passes/value_noise.hpp"
#include "scene/channels.hpp"
#include "scene/random.hpp"

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
  GroundSample s{0, 0, 0, 0, 0, 0, false};
  const float w = float(scene.width);
  const float h = float(scene.height);
  const float a = float(aa_scale);

  const float e = warp.sample_uv(0, u, v, false) - 0.5f;
  const float p = puddle.sample_uv(0, u, v, false);
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

void paint_ground(Image& scene, int aa_scale, std::uint32_t seed) {
  Random rng(seed);
  const std::uint32_t puddle_seed = rng.draw_seed();
  const Image puddle = value_noise(scene.width, scene.height, puddle_seed, 0.18f);
  const std::uint32_t warp_seed = rng.draw_seed();
  const Image warp = value_noise(scene.width, scene.height, warp_seed, 1.0f);

  const std::vector<float*> planes = scene.channel_pointers();
  float* red = planes[kRed];
  float* green = planes[kGreen];
  float* blue = planes[kBlue];
  float* depth = planes[kDepth];
  float* emission = planes[kEmission];
  float* reflectivity = planes[kReflectivity];

  const float u_scale = float(scene.width) - 1.0f;
  const float v_scale = float(scene.height) - 1.0f;
  for (int y = 0; y < scene.height; ++y) {
    const float v = float(y) / v_scale;
    for (int x = 0; x < scene.width; ++x) {
      // One grain draw for every pixel, above the horizon too, so the sequence
      // does not depend on what the pixel shows.
      const float grain = rng.next_float();
      const float u = float(x) / u_scale;
      const GroundSample s = ground_sample(scene, u, v, warp, puddle, grain, aa_scale);
      // Strictly nearer only: equal depths never overwrite.
      if (s.hit && *depth > s.depth) {
        *red = s.r;
        *green = s.g;
        *blue = s.b;
        *depth = s.depth;
        *reflectivity = s.reflectivity;
        *emission = s.emission;
      }
      ++red, ++green, ++blue, ++depth, ++emission, ++reflectivity;
    }
  }
}

}  // namespace neonvale
