#include "passes/robot.hpp"

#include <climits>
#include <cmath>
#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/parallel.hpp"
#include "filters/box_blur.hpp"
#include "passes/channels.hpp"
#include "passes/robot_reference.hpp"

namespace neonvale {

namespace {

// Normalised position of step `i` of `count` along one side of the figure; a
// side of a single pixel samples the first row or column of the assets.
float figure_coordinate(int i, int count) { return count > 1 ? float(i) / (float(count) - 1.0f) : 0.0f; }

// A pixel of the figure before its shading: the surface normal, depth and
// coverage, from `robo` alone.
struct RobotSurface {
  float nx, ny, nz;
  float depth;
  float alpha;
};

// The surface from the taps of its position in `robo`.
RobotSurface surface_at(const Image& robo, const PixelTaps& t) {
  RobotSurface s;
  s.nx = 2.0f * robo.sample(0, t) - 1.0f;
  s.ny = 2.0f * robo.sample(1, t) - 1.0f;
  s.nz = 2.0f * robo.sample(2, t) - 1.0f;
  const float length = std::sqrt(s.nx * s.nx + s.ny * s.ny + s.nz * s.nz);
  if (length > 0.0f) {
    const float inverse = 1.0f / length;
    s.nx *= inverse;
    s.ny *= inverse;
    s.nz *= inverse;
  }
  s.depth = 3.2f - 0.3f * s.nz;
  s.alpha = robo.sample(3, t);
  return s;
}

// The two points of the environment the body mirrors, in its normalised
// coordinates: one nudged along the normal, and a slower-moving one steered
// by it with the vertical component mirrored, so the body reflects what lies
// around and above it.
struct Looks {
  float near_u, near_v, far_u, far_v;
};
Looks looks(const RobotSurface& surface, float u, float v) {
  const float nx = surface.nx, ny = surface.ny;
  return {u + 0.15f * nx, v + 0.18f * ny, (0.5f * nx + 0.5f) * 0.5f + 0.5f * u + 0.29f,
          (0.5f - 0.5f * ny) * 0.5f + 0.5f * v + 0.05f};
}

// The shading from what the body sees at its two points, with the taps of
// its position in the material and emissive images.
RobotSample shade(const float near[3], const float far[3], const Image& robo_material, const PixelTaps& material,
                  const Image& robo_emissive, const PixelTaps& emissive, const RobotSurface& surface) {
  float e[3];
  for (int c = 0; c < 3; ++c) e[c] = 0.28f * far[c] + 0.72f * near[c];

  const float luma = (0.21f * e[0] + 0.72f * e[1] + 0.07f * e[2]) * 0.45f;
  for (float& ec : e) ec = 0.55f * ec + luma;

  const float strength = 4.0f * robo_material.sample(3, material);
  for (float& ec : e) ec = strength * ec;

  for (int c = 0; c < 3; ++c) {
    e[c] = e[c] + 2.0f * robo_material.sample(c, material);
    e[c] = e[c] + 24.0f * robo_emissive.sample(c, emissive);
  }

  // Only what the brightest channel holds above 1 feeds the glow.
  float brightest = e[0] > e[1] ? e[0] : e[1];
  brightest = brightest > e[2] ? brightest : e[2];
  const float over = brightest - 1.0f;
  const float emission = (over > 0.0f ? over : 0.0f) * 0.05f;

  return {e[0], e[1], e[2], surface.nx, surface.ny, surface.nz, surface.depth, 0.0f, emission, surface.alpha};
}

// What the environment holds at both points, each channel from one pair of taps.
void look_up(const Image& environment, const Looks& at, float near[3], float far[3]) {
  const PixelTaps n = environment.taps_uv(at.near_u, at.near_v, false);
  const PixelTaps f = environment.taps_uv(at.far_u, at.far_v, false);
  for (int c = 0; c < 3; ++c) {
    near[c] = environment.sample(c, n);
    far[c] = environment.sample(c, f);
  }
}

// The environment the figure mirrors: the scene's colour planes blurred
// with radius 2 x aa_scale through a ring of rows.
Image robot_environment(const ImagePlanes& scene, int aa_scale) {
  const int width = scene.width;
  const int height = scene.height;
  Image environment(width, height, 3);
  const int radius = 2 * aa_scale;
  const float k = box_window_scale(radius);
  const std::size_t stride = std::size_t(width);
  BoxBlurRows blur(width, height, 3, radius);
  blur.run(
      [&](int c, int y, float* row) {
        const float* from = scene.row(kRed + c, y);
        std::copy(from, from + width, row);
      },
      [&](int c, int y, int x0, int n, const float* sums) {
        float* out = environment.plane(c) + std::size_t(y) * stride + std::size_t(x0);
        for (int x = 0; x < n; ++x) out[x] = sums[x] * k;
      });
  return environment;
}

}  // namespace

namespace reference {

RobotSample robot_sample(const Image& environment, const Image& robo, const Image& robo_material,
                         const Image& robo_emissive, float u, float v) {
  const RobotSurface surface = surface_at(robo, robo.taps_uv(u, v, false));
  float near[3], far[3];
  look_up(environment, looks(surface, u, v), near, far);
  return shade(near, far, robo_material, robo_material.taps_uv(u, v, false), robo_emissive,
               robo_emissive.taps_uv(u, v, false), surface);
}

}  // namespace reference

Rect FigureRect::within(int buffer_width, int buffer_height) const {
  return {std::max(x0, 0), std::max(y0, 0), int(std::min((long long)x0 + width, (long long)buffer_width)),
          int(std::min((long long)y0 + height, (long long)buffer_height))};
}

FigureRect figure_rect(int scene_width, int scene_height, int robo_width, int robo_height) {
  FigureRect rect;
  rect.height = int(float(scene_height) * 0.77f);
  // Saturate instead of overflowing for an absurdly wide asset; the columns
  // are clipped to the buffer anyway.
  const float w = (float(robo_width) * float(rect.height)) / float(robo_height);
  rect.width = w < 2147483520.0f ? int(w) : INT_MAX;
  rect.x0 = int(float(scene_width) * 0.07f);
  rect.y0 = int(float(scene_height) * 0.13f);
  return rect;
}

namespace reference {

void composite_robot(Image& scene, const Image& robo, const Image& robo_material, const Image& robo_emissive,
                     int aa_scale, StepProgress* progress) {
  neonvale::composite_robot(planes_of(scene), whole_depth(scene), robo, robo_material, robo_emissive, aa_scale,
                            progress);
}

}  // namespace reference

void composite_robot(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                     const Image& robo_material, const Image& robo_emissive, int aa_scale, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  const FigureRect rect = figure_rect(width, height, robo.width, robo.height);
  const int fig_w = rect.width;
  const int fig_h = rect.height;
  const int x0 = rect.x0;
  const int y0 = rect.y0;
  // Clip the figure's rectangle to the buffer.
  const int rows = fig_h < height - y0 ? fig_h : height - y0;
  const int cols = fig_w < width - x0 ? fig_w : width - x0;
  if (rows <= 0 || cols <= 0) return;
  // The environment's blur weighs about as much as a third of the figure.
  if (progress) progress->set_total(3LL * rows / 2);

  // The figure mirrors the scene as it stands before any of its own pixels.
  const Image environment = robot_environment(scene, aa_scale);
  advance(progress, rows / 2);

  float* const red = scene[kRed];
  float* const green = scene[kGreen];
  float* const blue = scene[kBlue];
  float* const emission = scene[kEmission];
  float* const coverage = scene[kRobot];
  float* const reflectivity = scene[kReflectivity];
  // A column has one u and a row one v, so the taps of the three assets are
  // worked out once per column and once per row.
  const Image* const assets[3] = {&robo, &robo_material, &robo_emissive};
  std::vector<SampleTap> column_taps[3];
  for (int a = 0; a < 3; ++a) {
    const Image& image = *assets[a];
    column_taps[a].resize(std::size_t(cols));
    for (int j = 0; j < cols; ++j)
      column_taps[a][std::size_t(j)] = image.taps_uv(figure_coordinate(j, fig_w), 0.0f, false).x;
  }
  parallel_rows(rows, cols, [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      const float v = figure_coordinate(i, fig_h);
      SampleTap row_taps[3];
      for (int a = 0; a < 3; ++a) row_taps[a] = assets[a]->taps_uv(0.0f, v, false).y;
      const int y = y0 + i;
      const std::size_t row = std::size_t(y) * std::size_t(width) + std::size_t(x0);
      for (int j = 0; j < cols; ++j) {
        const PixelTaps at = {column_taps[0][std::size_t(j)], row_taps[0]};
        // Where the figure does not cover the pixel or lies behind what is
        // there, nothing is written, so nothing more is worked out.
        if (!(robo.sample(3, at) > 0.0f)) continue;
        const RobotSurface surface = surface_at(robo, at);
        if (!(surface.depth < depth.at(x0 + j, y))) continue;
        const float u = figure_coordinate(j, fig_w);
        float near[3], far[3];
        look_up(environment, looks(surface, u, v), near, far);
        const RobotSample s = shade(near, far, robo_material, {column_taps[1][std::size_t(j)], row_taps[1]},
                                    robo_emissive, {column_taps[2][std::size_t(j)], row_taps[2]}, surface);
        const std::size_t p = row + std::size_t(j);
        const float a = s.alpha;
        red[p] = s.r * a + (1.0f - a) * red[p];
        green[p] = s.g * a + (1.0f - a) * green[p];
        blue[p] = s.b * a + (1.0f - a) * blue[p];
        if (depth.whole()) depth.plane[p] = s.depth;
        coverage[p] = a;
        // A zero left as it is keeps pages nobody else writes untouched.
        if (reflectivity[p] != s.reflectivity) reflectivity[p] = s.reflectivity;
        emission[p] = s.emission;
      }
    }
    advance(progress, end - begin);
  });
}

}  // namespace neonvale
