#include "passes/sky.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/parallel.hpp"
#include "core/random.hpp"
#include "core/sampling.hpp"
#include "filters/box_blur.hpp"
#include "maths/batch_math.hpp"
#include "maths/clamp.hpp"
#include "maths/scalar_math.hpp"
#include "passes/channels.hpp"
#include "passes/sky_reference.hpp"

namespace neonvale {

namespace {

constexpr int kOctaves = 5;
constexpr float kCloudPower = 1.2f;

// The cover before its power.
inline float cloud_base(float q) { return clamp<NanGoes::kThrough>((q - 0.4f) * 5.0f, 0.0f, 0.88f); }

}  // namespace

int cloud_blur_radius(int height) { return int(std::max(double(float(height)) / 240.0, 1.0)); }

// The cap at 0.88 keeps every cloud translucent.
float shape_cloud(float q) { return std::pow(cloud_base(q), kCloudPower); }

float sun_stripe(float v) {
  // The offset is taken in double and rounded once.
  const float g = clamp<NanGoes::kThrough>(float(double(v) - 0.45), 0.0f, 1.0f);
  const float k = std::cos(g * 120.0f);
  return std::pow(clamp<NanGoes::kThrough>(2.0f * k * k, 0.0f, 1.0f), 2.7f);
}

namespace {

// The cloud noise before the warp, rows [0, rows) of a width x height image,
// in an image of just those rows: five octaves of random grids, each twice as fine as the last and weighted
// 0.55 times as much, enlarged smoothly to full size and summed, then divided
// by the sum of the weights. Each enlarged value is added as it is sampled
// (corner-aligned, smoothstep weights), the same sum as enlarging the octave
// whole and adding it. Every grid is drawn whatever the row count.
Image cloud_noise(int width, int height, int rows, std::uint32_t seed, StepProgress* progress) {
  Image out(width, rows, 1);
  Random rng(seed);
  float* values = out.plane(0);
  const std::size_t stride = std::size_t(width);
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
    parallel_rows(rows, width, [&](int begin, int end) {
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
  parallel_rows(rows, width, [&](int begin, int end) {
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i) values[i] = values[i] / total;
    advance(progress, end - begin);
  });
  return out;
}


// Warps the noise sideways and sways it up and down (a fixed number of output
// pixels at every AA scale), blurs it, shapes it, and hands rows [0, rows) of
// the cover of a buffer `height` rows high to sink(y, x0, n, cover) in
// segments. The noise holds the rows those need (cloud_noise_rows). The warp
// is computed row by row as the blur asks for its input, so no warped image
// is ever stored.
template <class Sink>
void shape_clouds(const Image& noise, int height, int aa_scale, int rows, Sink&& sink) {
  const int width = noise.width;
  const float* values = noise.plane(0);
  const std::size_t stride = std::size_t(width);
  const float sway_x = float(25LL * aa_scale);
  const float sway_y = float(9LL * aa_scale);
  const float wden = float(width) - 1.0f;
  const float hden = float(height) - 1.0f;
  std::vector<float> sway(stride);  // the vertical sway depends on the column only
  for (int x = 0; x < width; ++x) sway[std::size_t(x)] = std::sin((float(x) / wden) * 18.0f) * sway_y;

  // The blur grows with the buffer so the cloud edges look the same at every
  // resolution.
  const int radius = cloud_blur_radius(height);
  const float k = box_window_scale(radius);
  BoxBlurRows blur(width, height, 1, radius);
  blur.run(
      [&](int, int y, float* warped) {
        const float phase = (float(y) / hden) * 23.0f;
        const float fy = float(y);
        const float* src = values + std::size_t(y) * stride;
        // The row's sines first, held in the output row until each is used.
        for (int x = 0; x < width; ++x) warped[x] = src[x] * 7.0f + phase;
        sines(warped, warped, stride);
        for (int x = 0; x < width; ++x) {
          const float sx = float(x) + warped[x] * sway_x;
          const float sy = fy + sway[std::size_t(x)];
          warped[x] = sample_plane(values, width, height, sx, sy, true);
        }
      },
      [&](int, int y, int x0, int n, const float* sums) {
        float cover[BoxBlurRows::kMaxSegment];
        // Thin noise is clear sky.
        for (int x = 0; x < n; ++x) cover[x] = cloud_base(sums[x] * k);
        powers(cover, cover, std::size_t(n), kCloudPower);
        sink(y, x0, n, static_cast<const float*>(cover));
      },
      rows);
}

}  // namespace

namespace reference {

Image cloud_cover(int width, int height, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  const Image noise = cloud_noise(width, height, height, seed, progress);
  Image out(width, height, 1);
  float* values = out.plane(0);
  shape_clouds(noise, height, aa_scale, height, [&](int y, int x0, int n, const float* cover) {
    std::copy(cover, cover + n, values + std::size_t(y) * std::size_t(width) + std::size_t(x0));
  });
  advance(progress, 3LL * height);
  return out;
}

}  // namespace reference

// The noise rows that cover rows [0, rows) depend on: the blur reaches
// `radius` rows down, the warp's sway 9 output pixels and its bilinear
// sample one row more.
int cloud_noise_rows(int height, int aa_scale, int rows) {
  const long long reach = (long long)rows + cloud_blur_radius(height) + 9LL * aa_scale + 2;
  return int(std::min<long long>(height, reach));
}

namespace {

// A sky pixel's terms by what they depend on, so that the pass works out
// the row and column terms once.
struct SkyRow {
  float band;    // horizon band
  float dv;      // height above the sun's centre
  float stripe;  // the sun's stripe factor
  float light;   // cloud light before the cloud cover
};
struct SkyColumn {
  float sin13u;
  float du;  // distance from the sun's centre across, in units of the height
};
// The three waves of the red-orange band, which depend on both u and v.
struct SkyWaves {
  float streak, wave, swirl;
};

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

// sky_waves for n pixels of one row, pixel i at u[i] under column[i]: the
// arguments of its five sines gathered, so that the sines are taken a run at
// a time.
void sky_waves_run(const SkyColumn* column, const float* u, float v, int n, SkyWaves* out) {
  constexpr int kRun = 256;
  float args[4][kRun];
  float turn[kRun];
  for (int at = 0; at < n; at += kRun) {
    const int m = std::min(kRun, n - at);
    for (int i = 0; i < m; ++i) {
      const float ui = u[at + i];
      args[0][i] = 2.0f * column[at + i].sin13u + 95.0f * v;
      args[1][i] = 37.0f * v - 9.0f * ui;
      args[2][i] = 4.0f * ui + 6.0f * v;
      args[3][i] = 41.0f * ui - 14.0f * v;
    }
    for (auto& a : args) sines(a, a, std::size_t(m));
    for (int i = 0; i < m; ++i) turn[i] = args[3][i] + (19.0f * u[at + i] + 8.0f * v);
    sines(turn, turn, std::size_t(m));
    for (int i = 0; i < m; ++i) out[at + i] = SkyWaves{args[0][i] * args[1][i], args[2][i], turn[i]};
  }
}

SkySample sky_shade(const SkyRow& row, const SkyColumn& column, const SkyWaves& waves, float c, float height,
                    int aa_scale) {
  // Red-orange band low in the sky, streaked and swirled.
  const float band = row.band;
  const float streak = waves.streak;
  const float wave = waves.wave;
  const float swirl = waves.swirl;

  const float p = three_quarter_power(0.25f * swirl + 0.75f);
  const float sky_r = p * ((streak * 0.12f + 1.15f) * band) + 0.006f;
  const float sky_g = (streak * 0.018f + 0.17f) * band + 0.012f;
  const float sky_b = wave * wave * 0.025f + (band * 0.028f + 0.065f);

  // Sun disc, its edge softened over one output pixel.
  const float dist = std::sqrt(row.dv * row.dv + column.du * column.du);
  const float cover = clamp<NanGoes::kThrough>(((0.143f - dist) * height) / float(aa_scale), 0.0f, 1.0f);

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

}  // namespace

namespace reference {

SkySample sky_sample(const Image& scene, float u, float v, float c, int aa_scale) {
  const float w = float(scene.width);
  const float h = float(scene.height);
  const SkyColumn column = sky_column(u, w, h);
  SkyWaves waves;
  sky_waves_run(&column, &u, v, 1, &waves);
  return sky_shade(sky_row(v), column, waves, c, h, aa_scale);
}

void paint_sky(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress) {
  if (scene.channels <= kEmission) throw std::invalid_argument("sky needs a scene buffer with an emission plane");
  paint_sky_rows(planes_of(scene), aa_scale, seed, scene.height, progress);
}

}  // namespace reference

void paint_sky_rows(const ImagePlanes& scene, int aa_scale, std::uint32_t seed, int rows, StepProgress* progress,
                    const RowRuns* overwritten) {
  const int w = scene.width;
  const int h = scene.height;
  rows = std::max(0, std::min(rows, h));
  const int noise_rows = cloud_noise_rows(h, aa_scale, rows);
  // Noise rows take one unit for each of their six passes; a shaded row,
  // with its warp, blur and shaping, about as much as ten.
  constexpr int kShadeWeight = 10;
  if (progress) progress->set_total((long long)noise_rows * (kOctaves + 1) + (long long)rows * kShadeWeight);
  const Image noise = cloud_noise(w, h, noise_rows, seed, progress);

  const float wden = float(w) - 1.0f;
  const float hden = float(h) - 1.0f;
  const float wf = float(w);
  const float hf = float(h);
  std::vector<SkyColumn> columns(static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) columns[std::size_t(x)] = sky_column(float(x) / wden, wf, hf);
  std::vector<SkyRow> row_terms(static_cast<std::size_t>(rows));
  parallel_for(rows, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) row_terms[std::size_t(y)] = sky_row(float(y) / hden);
  }, 64);

  shape_clouds(noise, h, aa_scale, rows, [&](int y, int x0, int n, const float* cloud) {
    const float v = float(y) / hden;
    const SkyRow& row = row_terms[std::size_t(y)];
    const std::size_t offset = std::size_t(y) * std::size_t(w) + std::size_t(x0);
    float* r = scene[kRed] + offset;
    float* g = scene[kGreen] + offset;
    float* b = scene[kBlue] + offset;
    float* emission = scene[kEmission] + offset;
    float* depth = scene[kDepth] ? scene[kDepth] + offset : nullptr;
    auto shade = [&](int begin, int end) {
      if (end <= begin) return;
      float u[BoxBlurRows::kMaxSegment];
      SkyWaves waves[BoxBlurRows::kMaxSegment];
      for (int i = begin; i < end; ++i) u[i] = float(x0 + i) / wden;
      sky_waves_run(&columns[std::size_t(x0 + begin)], u + begin, v, end - begin, waves + begin);
      for (int i = begin; i < end; ++i) {
        const int x = x0 + i;
        const SkySample s = sky_shade(row, columns[std::size_t(x)], waves[i], cloud[i], hf, aa_scale);
        r[i] = s.r;
        g[i] = s.g;
        b[i] = s.b;
        if (depth) depth[i] = s.depth;
        emission[i] = s.emission;
      }
    };
    int i = 0;
    if (overwritten && std::size_t(y) < overwritten->size()) {
      for (const Span& run : (*overwritten)[std::size_t(y)]) {
        if (run.begin - x0 >= n) break;
        const int skip_begin = std::max(run.begin - x0, i);
        const int skip_end = std::min(run.end - x0, n);
        if (skip_end <= skip_begin) continue;
        shade(i, skip_begin);
        if (depth) std::fill(depth + skip_begin, depth + skip_end, kSkyDepth);  // the test the painter makes
        i = skip_end;
      }
    }
    shade(i, n);
    if (x0 + n == w) advance(progress, kShadeWeight);
  });
}

}  // namespace neonvale
