#include "passes/robot.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>
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
Looks looks(float nx, float ny, float u, float v) {
  return {u + 0.15f * nx, v + 0.18f * ny, (0.5f * nx + 0.5f) * 0.5f + 0.5f * u + 0.29f,
          (0.5f - 0.5f * ny) * 0.5f + 0.5f * v + 0.05f};
}

// The environment's part of the shading: what the body sees at its far
// point and at its near point, each weighted, the far share first.
float far_share(float far) { return 0.28f * far; }
float near_share(float near) { return 0.72f * near; }

// The shading from the environment's part `mirrored` (per channel), with the
// taps of its position in the material and emissive images.
RobotSample shade_mirrored(const float mirrored[3], const Image& robo_material, const PixelTaps& material,
                           const Image& robo_emissive, const PixelTaps& emissive, const RobotSurface& surface) {
  float e[3] = {mirrored[0], mirrored[1], mirrored[2]};

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

// The figure placed in a scene: its rectangle clipped to the buffer, and the
// taps of its columns and rows in each asset (a column has one u and a row
// one v, so they are worked out once).
class Figure {
 public:
  Figure(int width, int height, std::initializer_list<const Image*> assets) : stride_(std::size_t(width)) {
    const Image& robo = **assets.begin();
    rect = figure_rect(width, height, robo.width, robo.height);
    const Rect clipped = rect.within(width, height);
    rows = std::max(0, clipped.height());
    cols = std::max(0, clipped.width());
    for (const Image* image : assets) {
      Taps taps;
      taps.columns.resize(std::size_t(cols));
      for (int j = 0; j < cols; ++j) taps.columns[std::size_t(j)] = image->taps_uv(u(j), 0.0f, false).x;
      taps.rows.resize(std::size_t(rows));
      for (int i = 0; i < rows; ++i) taps.rows[std::size_t(i)] = image->taps_uv(0.0f, v(i), false).y;
      taps_.push_back(std::move(taps));
    }
  }

  float u(int j) const { return figure_coordinate(j, rect.width); }
  float v(int i) const { return figure_coordinate(i, rect.height); }
  // The taps of figure pixel (i, j) in the a-th asset.
  PixelTaps taps(int a, int i, int j) const {
    const Taps& t = taps_[std::size_t(a)];
    return {t.columns[std::size_t(j)], t.rows[std::size_t(i)]};
  }

  // The index of figure pixel (i, j) in a plane of the scene.
  std::size_t at(int i, int j) const { return std::size_t(rect.y0 + i) * stride_ + std::size_t(rect.x0 + j); }

  FigureRect rect;
  int rows, cols;

 private:
  struct Taps {
    std::vector<SampleTap> columns, rows;
  };
  std::size_t stride_;
  std::vector<Taps> taps_;
};

// A point is known once the blur has handed over its lower row.
std::size_t known_in_block(float u, float v, int width, int height) {
  const PixelTaps point = pixel_taps_uv(u, v, width, height, false);
  return std::size_t(point.y.i1) / std::size_t(BoxBlurRows::kRowsPerBlock);
}

// The two points of a pixel the figure changes, and the blocks of the blur's
// rows in which they become known.
struct PointsAt {
  Looks looks;
  std::size_t near_block, far_block;
};

// The pixels a RobotPixels marks as changed, read back row by row.
class ChangedPixels {
 public:
  explicit ChangedPixels(const RobotPixels& pixels)
      : bits_(pixels.changed.data()), words_(pixels.words_per_row), width_(pixels.width), height_(pixels.height) {}

  // Calls visit(j, points) for each changed pixel of figure row i, from left
  // to right, with its points worked out from the normal's components that
  // normal_x and normal_y hold at the pixel.
  template <typename Visit>
  void visit_row(const Figure& figure, int i, const float* normal_x, const float* normal_y, Visit&& visit) const {
    const std::uint64_t* bits = bits_ + std::size_t(i) * words_;
    for (std::size_t w = 0; w < words_; ++w)
      for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
        const int j = int(w * 64 + std::size_t(__builtin_ctzll(word)));
        const std::size_t p = figure.at(i, j);
        PointsAt at;
        at.looks = looks(normal_x[p], normal_y[p], figure.u(j), figure.v(i));
        at.near_block = known_in_block(at.looks.near_u, at.looks.near_v, width_, height_);
        at.far_block = known_in_block(at.looks.far_u, at.looks.far_v, width_, height_);
        visit(j, at);
      }
  }

 private:
  const std::uint64_t* bits_;
  std::size_t words_;
  int width_, height_;
};

// The step's units: finding the pixels counts one per figure row, the blur
// half as much, drawing one per figure row.
long long robot_work(int rows) { return 2LL * rows + rows / 2; }

// The rows of the blurred environment kept at once: a block of the blur's
// rows and the last row of the block before, where a point's upper row can
// lie.
constexpr int kKeptEnvironmentRows = BoxBlurRows::kRowsPerBlock + 1;

// Figure rows are found in this many chunks, whatever the thread count.
constexpr int kFindChunks = 64;

}  // namespace

namespace reference {

RobotSample robot_sample(const Image& environment, const Image& robo, const Image& robo_material,
                         const Image& robo_emissive, float u, float v) {
  const RobotSurface surface = surface_at(robo, robo.taps_uv(u, v, false));
  float near[3], far[3];
  look_up(environment, looks(surface.nx, surface.ny, u, v), near, far);
  float mirrored[3];
  for (int c = 0; c < 3; ++c) mirrored[c] = far_share(far[c]) + near_share(near[c]);
  return shade_mirrored(mirrored, robo_material, robo_material.taps_uv(u, v, false), robo_emissive,
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

RobotPixels find_robot_pixels(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                              StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  for (int c : {kEmission, kRobot})
    if (c >= scene.channels || !scene[c]) throw std::invalid_argument("the robot needs emission and coverage planes");
  RobotPixels found;
  found.width = width;
  found.height = height;
  const Figure figure(width, height, {&robo});
  found.rect = figure.rect;
  found.rows = figure.rows;
  found.cols = figure.cols;
  const int rows = figure.rows;
  const int cols = figure.cols;
  if (rows <= 0 || cols <= 0) return found;
  if (progress) progress->set_total(robot_work(rows));

  float* const normal_x = scene[kEmission];
  float* const normal_y = scene[kRobot];
  found.chunks = std::min(rows, kFindChunks);
  const std::size_t blocks =
      (std::size_t(height) + BoxBlurRows::kRowsPerBlock - 1) / std::size_t(BoxBlurRows::kRowsPerBlock);
  found.blocks = blocks;
  found.words_per_row = (std::size_t(cols) + 63) / 64;
  found.changed.assign(std::size_t(rows) * found.words_per_row, 0);
  const ChangedPixels changed(found);

  // First the pixels: where the figure does not cover the pixel or lies
  // behind what is there, nothing is written. Each one found keeps its
  // normal's first two components in its emission and coverage, which the
  // figure overwrites when it draws. Then per chunk the points known in each
  // block.
  std::vector<std::uint64_t> at_block(std::size_t(found.chunks) * blocks, 0);
  parallel_for(found.chunks, [&](int begin, int end) {
    for (int chunk = begin; chunk < end; ++chunk) {
      std::uint64_t* counts = at_block.data() + std::size_t(chunk) * blocks;
      const auto [first, last] = found.chunk_rows(chunk);
      for (int i = first; i < last; ++i) {
        std::uint64_t* bits = found.changed.data() + std::size_t(i) * found.words_per_row;
        for (int j = 0; j < cols; ++j) {
          const PixelTaps taps = figure.taps(0, i, j);
          if (!(robo.sample(3, taps) > 0.0f)) continue;
          const RobotSurface surface = surface_at(robo, taps);
          if (!(surface.depth < depth.at(figure.rect.x0 + j, figure.rect.y0 + i))) continue;
          bits[std::size_t(j) / 64] |= std::uint64_t(1) << (j % 64);
          normal_x[figure.at(i, j)] = surface.nx;
          normal_y[figure.at(i, j)] = surface.ny;
        }
        changed.visit_row(figure, i, normal_x, normal_y, [&](int, const PointsAt& at) {
          ++counts[at.near_block];
          ++counts[at.far_block];
        });
      }
      advance(progress, last - first);
    }
  });
  // Each chunk's place in each block's list, the chunks in order.
  found.block_start.assign(blocks + 1, 0);
  found.chunk_start.assign(at_block.size(), 0);
  std::uint64_t placed = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    found.block_start[b] = placed;
    for (int chunk = 0; chunk < found.chunks; ++chunk) {
      const std::size_t at = std::size_t(chunk) * blocks + b;
      found.chunk_start[at] = placed;
      placed += at_block[at];
    }
  }
  found.block_start[blocks] = placed;
  found.count = placed / 2;  // two points a pixel
  return found;
}

void draw_robot(const ImagePlanes& scene, const RobotPixels& pixels, const Image& robo, const Image& robo_material,
                const Image& robo_emissive, int aa_scale, float* depth_plane, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  if (pixels.width != width || pixels.height != height)
    throw std::invalid_argument("the robot's pixels were found on a scene of another size");
  const int rows = pixels.rows;
  const long long blur_work = rows / 2;
  if (pixels.count == 0) {
    advance(progress, blur_work + rows);
    return;
  }
  const Figure figure(width, height, {&robo, &robo_material, &robo_emissive});
  const ChangedPixels changed(pixels);
  const std::size_t stride = std::size_t(width);
  float* const red = scene[kRed];
  float* const green = scene[kGreen];
  float* const blue = scene[kBlue];
  float* const emission = scene[kEmission];
  float* const coverage = scene[kRobot];
  float* const reflectivity = scene[kReflectivity];

  // First the points, each where the counts placed it.
  PlaneBuffer point_storage(3 * pixels.block_start[pixels.blocks]);
  float* const points = point_storage.data();
  // Walks the changed pixels chunk by chunk, row by row, each with its two
  // entries in the order they were placed; counts a chunk's rows in
  // `progress` as it ends, when `counted`.
  const auto walk_pixels = [&](bool counted, auto&& visit) {
    parallel_for(pixels.chunks, [&](int begin, int end) {
      for (int chunk = begin; chunk < end; ++chunk) {
        const std::uint64_t* next = pixels.chunk_start.data() + std::size_t(chunk) * pixels.blocks;
        std::vector<std::uint64_t> cursor(next, next + pixels.blocks);
        const auto [first, last] = pixels.chunk_rows(chunk);
        for (int i = first; i < last; ++i)
          changed.visit_row(figure, i, emission, coverage, [&](int j, const PointsAt& at) {
            float* const near = points + 3 * cursor[at.near_block]++;
            float* const far = points + 3 * cursor[at.far_block]++;
            visit(i, j, at, near, far);
          });
        if (counted) advance(progress, last - first);
      }
    });
  };
  walk_pixels(false, [](int, int, const PointsAt& at, float* near, float* far) {
    near[0] = at.looks.near_u;
    near[1] = at.looks.near_v;
    far[0] = at.looks.far_u;
    far[1] = at.looks.far_v;
  });

  // Result rows of the blur, scaled as reference::box_blur scales them. The
  // three channels of a row lie side by side, so the values of one point
  // share cache lines.
  constexpr int kBlock = BoxBlurRows::kRowsPerBlock;
  constexpr int kKept = kKeptEnvironmentRows;
  PlaneBuffer kept = PlaneBuffer::working(3 * std::size_t(kKept) * stride);
  const auto environment_row = [&](int y) { return kept.data() + 3 * std::size_t(y % kKept) * stride; };

  // Takes the points known in block b from the kept rows: each entry's
  // position gives way to the environment's three channels there.
  const auto take_points = [&](std::size_t b) {
    const std::uint64_t first = pixels.block_start[b];
    const std::uint64_t entries = pixels.block_start[b + 1] - first;
    constexpr std::uint64_t kSlice = 4096;
    const int slices = int((entries + kSlice - 1) / kSlice);
    parallel_for(slices, [&](int begin, int end) {
      const std::uint64_t to = first + std::min(entries, std::uint64_t(end) * kSlice);
      for (std::uint64_t e = first + std::uint64_t(begin) * kSlice; e < to; ++e) {
        float* const entry = points + 3 * e;
        const PixelTaps t = pixel_taps_uv(entry[0], entry[1], width, height, false);
        const float* const row0 = environment_row(t.y.i0);
        const float* const row1 = environment_row(t.y.i1);
        for (int c = 0; c < 3; ++c)
          entry[c] = sample_rows(row0, row1, SampleTap{3 * t.x.i0 + c, 3 * t.x.i1 + c, t.x.f}, t.y);
      }
    });
  };

  // The blur runs only as far down as the last point.
  std::size_t blocks = pixels.blocks;
  while (blocks > 0 && pixels.block_start[blocks] == pixels.block_start[blocks - 1]) --blocks;
  const int blurred_rows = int(std::min<long long>(height, (long long)blocks * kBlock));
  const int radius = 2 * aa_scale;
  const float k = box_window_scale(radius);
  BoxBlurRows blur(width, height, 3, radius);
  blur.run_blocks(
      [&](int c, int y, float* row) {
        const float* from = scene.row(kRed + c, y);
        std::copy(from, from + width, row);
      },
      [&](int c, int y, int x0, int n, const float* sums) {
        float* out = environment_row(y) + 3 * std::size_t(x0) + std::size_t(c);
        for (int x = 0; x < n; ++x) out[3 * x] = sums[x] * k;
      },
      [&](int y0, int y1) {
        take_points(std::size_t(y0 / kBlock));
        advance(progress, blur_work * y1 / blurred_rows - blur_work * y0 / blurred_rows);
      },
      blurred_rows);

  // Then the pixels, each from the environment at its two points.
  walk_pixels(true, [&](int i, int j, const PointsAt&, const float* near, const float* far) {
    float mirrored[3];
    for (int c = 0; c < 3; ++c) mirrored[c] = far_share(far[c]) + near_share(near[c]);
    const PixelTaps taps = figure.taps(0, i, j);
    // The figure's depth is worked out only where it is kept.
    RobotSurface surface{0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    if (depth_plane)
      surface = surface_at(robo, taps);
    else
      surface.alpha = robo.sample(3, taps);
    const RobotSample s = shade_mirrored(mirrored, robo_material, figure.taps(1, i, j), robo_emissive,
                                         figure.taps(2, i, j), surface);
    const std::size_t p = figure.at(i, j);
    const float a = s.alpha;
    red[p] = s.r * a + (1.0f - a) * red[p];
    green[p] = s.g * a + (1.0f - a) * green[p];
    blue[p] = s.b * a + (1.0f - a) * blue[p];
    if (depth_plane) depth_plane[p] = s.depth;
    coverage[p] = a;
    // A zero left as it is keeps pages nobody else writes untouched.
    if (reflectivity[p] != s.reflectivity) reflectivity[p] = s.reflectivity;
    emission[p] = s.emission;
  });
}

double robot_ring_rows(int height, int aa_scale) {
  return 3.0 * kKeptEnvironmentRows + BoxBlurRows::scratch_rows(height, 3, 2 * aa_scale);
}

double robot_cover_share(const Image& robo) {
  if (robo.width < 1 || robo.height < 1 || robo.channels < 1) return 0.0;
  const float* alpha = robo.plane(3 % robo.channels);
  const std::size_t w = std::size_t(robo.width), h = std::size_t(robo.height);
  std::vector<char> covered_column(w);
  std::size_t covered = 0;
  for (std::size_t y = 0; y < h; ++y) {
    // A texel column pair covers where either of the two rows does.
    const float* row0 = alpha + y * w;
    const float* row1 = alpha + std::min(y + 1, h - 1) * w;
    for (std::size_t x = 0; x < w; ++x) covered_column[x] = row0[x] > 0.0f || row1[x] > 0.0f;
    for (std::size_t x = 0; x < w; ++x) covered += covered_column[x] || covered_column[std::min(x + 1, w - 1)];
  }
  return double(covered) / double(w * h);
}

void composite_robot(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                     const Image& robo_material, const Image& robo_emissive, int aa_scale, StepProgress* progress) {
  const RobotPixels pixels = find_robot_pixels(scene, depth, robo, progress);
  draw_robot(scene, pixels, robo, robo_material, robo_emissive, aa_scale, depth.whole() ? depth.plane : nullptr,
             progress);
}

}  // namespace neonvale
