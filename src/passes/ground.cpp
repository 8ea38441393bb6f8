#include "passes/ground.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/parallel.hpp"
#include "core/random.hpp"
#include "core/sampling.hpp"
#include "filters/value_noise.hpp"
#include "maths/clamp.hpp"
#include "maths/scalar_math.hpp"
#include "passes/channels.hpp"
#include "passes/ground_reference.hpp"

namespace neonvale {

namespace {

constexpr float kHorizon = 0.595f;  // v of the horizon row
constexpr float kGridSpacing = 3.0f;

// Distance from `coordinate` to the nearest multiple of the grid spacing; the
// double remainder keeps it in [0, 3) for negative coordinates too.
float distance_to_line(float coordinate) {
  const float rem = remainder_of_3(remainder_of_3(coordinate) + kGridSpacing);
  return std::min(kGridSpacing - rem, rem);
}

// One ground pixel after its two noise lookups, `warp` and the puddle noise
// p; w and h are the scene's size.
GroundSample ground_shade(float w, float h, float u, float v, float warp, float p, float grain, int aa_scale) {
  GroundSample s{0, 0, 0, 0, 0, 0, false};
  const float e = warp - 0.5f;
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
  const float c = exp_of_negative(qx * qx);
  const float d = exp_of_negative(qz * qz);
  const float line = std::max(d, c);

  // Lines switch off where the warp noise is low and fade in below the horizon.
  const float strength = clamp<NanGoes::kLow>((e + 0.5f - 0.16f) * 1.5f, 0.0f, 1.0f) *
                         clamp<NanGoes::kLow>(below * 10.0f, 0.0f, 1.0f) * line;
  const float base = p * 0.027f + 0.009f + grain * 0.01f;

  s.r = strength * 0.65f + base;
  s.g = base * 0.75f + strength * 0.055f;
  s.b = base * 1.8f + strength * 0.65f;
  s.depth = depth;
  s.reflectivity = clamp<NanGoes::kThrough>((p - 0.36f) * 5.0f, 0.1f, 1.0f);
  s.emission = strength * 0.5f;
  s.hit = true;
  return s;
}

}  // namespace

namespace reference {

GroundSample ground_sample(const Image& scene, float u, float v, const Image& warp, const Image& puddle,
                           float grain, int aa_scale) {
  const float w = warp.sample_uv(0, u, v, false);
  const float p = puddle.sample_uv(0, u, v, false);
  return ground_shade(float(scene.width), float(scene.height), u, v, w, p, grain, aa_scale);
}

}  // namespace reference

float ground_row_depth(int y, int height) {
  const float v = float(y) / (float(height) - 1.0f);
  const float below = v - kHorizon;
  if (!(below > 0.0f)) return kSkyDepth;
  const float depth = 1.7f / below;
  return kSkyDepth > depth ? depth : kSkyDepth;
}

std::vector<float> ground_row_depths(int height) {
  std::vector<float> depths(std::size_t(height > 0 ? height : 0));
  for (int y = 0; y < height; ++y) depths[std::size_t(y)] = ground_row_depth(y, height);
  return depths;
}

int first_ground_row(int height) {
  int y = 0;
  while (y < height && !(ground_row_depth(y, height) < kSkyDepth)) ++y;
  return y;
}

namespace reference {

void paint_ground(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  neonvale::paint_ground(planes_of(scene), whole_depth(scene), aa_scale, seed, progress);
}

}  // namespace reference

std::size_t ground_noise_floats() { return noise_grid_floats(kPuddleStretch) + noise_grid_floats(kWarpStretch); }

void paint_ground(const ImagePlanes& scene, const SceneDepth& depths, int aa_scale, std::uint32_t seed,
                  StepProgress* progress) {
  Random rng(seed);
  // Two value noises of the buffer's size, worked out only in the rows the
  // ground's rows sample, a band at a time.
  const std::uint32_t puddle_seed = rng.draw_seed();
  const NoiseRows puddle(scene.width, scene.height, puddle_seed, kPuddleStretch);
  const std::uint32_t warp_seed = rng.draw_seed();
  const NoiseRows warp(scene.width, scene.height, warp_seed, kWarpStretch);

  const int width = scene.width;
  const int height = scene.height;
  const float u_scale = float(width) - 1.0f;
  const float v_scale = float(height) - 1.0f;

  // Rows at or above the horizon are never drawn, but every pixel of the
  // buffer takes one grain draw in storage order. The draws of the sky rows
  // are skipped; for the ground rows the generator is kept as it stands at
  // the start of every band of rows, so each band can draw its own grain
  // again, in any order and on any thread, with the values of one serial
  // sweep.
  int first = 0;
  while (first < height && !(float(first) / v_scale - kHorizon > 0.0f)) ++first;
  const std::size_t stride = std::size_t(width);
  constexpr int kGrainBand = 16;
  const int bands = (height - first + kGrainBand - 1) / kGrainBand;
  rng.skip(std::size_t(first) * stride);
  std::vector<Random> band_starts;
  band_starts.reserve(std::size_t(bands));
  for (int band = 0; band < bands; ++band) {
    band_starts.push_back(rng);
    rng.skip(std::size_t(kGrainBand) * stride);
  }

  // Both noises have the buffer's size, so they share the column weights.
  std::vector<SampleTap> columns(stride);
  for (int x = 0; x < width; ++x)
    columns[std::size_t(x)] = sample_tap((float(x) / u_scale) * float(width - 1), width, false);

  const ImagePlanes& planes = scene;
  const float wf = float(width);
  const float hf = float(height);
  // The rows of both noises a band of ground rows samples.
  auto noise_row_tap = [&](int y) { return sample_tap((float(y) / v_scale) * float(height - 1), height, false); };
  struct NoiseBand {
    int first = 0;  // the buffer's first noise row
    std::vector<float> puddle, warp;
  };
  auto fill_noise = [&](int y_begin, int y_end, NoiseBand& band) {
    band.first = noise_row_tap(y_begin).i0;
    const int rows = noise_row_tap(y_end - 1).i1 - band.first + 1;
    band.puddle.resize(std::size_t(rows) * stride);
    band.warp.resize(std::size_t(rows) * stride);
    for (int r = 0; r < rows; ++r) {
      puddle.fill_row(band.first + r, band.puddle.data() + std::size_t(r) * stride);
      warp.fill_row(band.first + r, band.warp.data() + std::size_t(r) * stride);
    }
  };

  // Shades row y with its grain.
  auto shade_row = [&](int y, const float* grains, const NoiseBand& noise) {
    const float v = float(y) / v_scale;
    SampleTap row = noise_row_tap(y);
    row.i0 -= noise.first;
    row.i1 -= noise.first;
    const std::size_t offset = std::size_t(y) * stride;
    float* red = planes[kRed] + offset;
    float* green = planes[kGreen] + offset;
    float* blue = planes[kBlue] + offset;
    // Before the ground only the sky has drawn; in the renderer's form of
    // the depth that is left implicit.
    float* depth = depths.whole() ? depths.plane + offset : nullptr;
    float* emission = planes[kEmission] + offset;
    float* reflectivity = planes[kReflectivity] + offset;
    for (int x = 0; x < width; ++x) {
      const float u = float(x) / u_scale;
      const SampleTap column = columns[std::size_t(x)];
      const float w = sample_taps(noise.warp.data(), width, column, row);
      const float p = sample_taps(noise.puddle.data(), width, column, row);
      const GroundSample s = ground_shade(wf, hf, u, v, w, p, grains[x], aa_scale);
      // Strictly nearer only: equal depths never overwrite.
      if (s.hit && (depth ? depth[x] : kSkyDepth) > s.depth) {
        red[x] = s.r;
        green[x] = s.g;
        blue[x] = s.b;
        if (depth) depth[x] = s.depth;
        reflectivity[x] = s.reflectivity;
        emission[x] = s.emission;
      }
    }
  };
  if (progress) progress->set_total(height - first);
  parallel_for(bands, [&](int band_begin, int band_end) {
    std::vector<float> grains(stride);
    NoiseBand noise;
    for (int band = band_begin; band < band_end; ++band) {
      Random grain = band_starts[std::size_t(band)];
      const int y_begin = first + band * kGrainBand;
      const int y_end = std::min(height, y_begin + kGrainBand);
      fill_noise(y_begin, y_end, noise);
      for (int y = y_begin; y < y_end; ++y) {
        for (float& g : grains) g = grain.next_float();
        shade_row(y, grains.data(), noise);
      }
      advance(progress, y_end - y_begin);
    }
  });
}

}  // namespace neonvale
