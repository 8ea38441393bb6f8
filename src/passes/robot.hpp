#pragma once
// The robot figure: three asset images shaded as a glossy body that mirrors a
// blurred copy of the scene, alpha-blended with a depth test.
#include <cstdint>
#include <utility>
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/plane_buffer.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"
#include "passes/scene_depth.hpp"

namespace neonvale {

struct RobotSample {
  float r, g, b;
  float nx, ny, nz;
  float depth;
  float reflectivity;
  float emission;
  float alpha;
};

// Where the figure stands in a scene buffer: its origin and its full size in
// pixels (before clipping to the buffer). The height is 77 % of the buffer's,
// the width follows the aspect of `robo`. The full size maps the buffer's
// pixels to the assets' coordinates, and the width of an absurdly wide asset
// saturates at INT_MAX, so the figure keeps its size rather than a far edge.
struct FigureRect {
  int x0, y0;
  int width, height;
  // The figure's pixels within a buffer of that size.
  Rect within(int buffer_width, int buffer_height) const;
};
FigureRect figure_rect(int scene_width, int scene_height, int robo_width, int robo_height);

// The figure mirrors an environment: the scene's colour planes as they are
// before the figure draws, blurred with radius 2 x aa_scale as reference::box_blur
// gives it. Each pixel it changes reads the environment at two points only,
// so no image of it is made: the points are worked out first, grouped by the
// blocks of the blur's rows (BoxBlurRows::kRowsPerBlock) in which they become
// known, and the blur then runs through a ring of rows, each block's points
// taken as its rows pass. A block reads and writes only its own points, in
// one run, so where the points live in a scratch file they are read in order.
//
// The pixels the figure changes, those it covers where it lies in front of
// the scene: pixel (i, j) of the clipped figure when bit j % 64 of
// changed[i * words_per_row + j / 64] is set. Each of their points becomes
// an entry of three floats while the figure draws: its position (u, v) in
// the environment until the blur reaches it, then the environment's three
// channels there. Block b's entries run from block_start[b] to
// block_start[b + 1]. The figure rows are found and drawn in `chunks` runs of
// rows (chunk_rows), and within a block, chunk c's entries start at
// chunk_start[c * blocks + b], in the order of their pixels row by row, a
// pixel's near point before its far one.
struct RobotPixels {
  int width = 0, height = 0;  // of the scene buffer
  FigureRect rect{0, 0, 0, 0};
  int rows = 0, cols = 0;  // of the figure, clipped to the buffer
  std::size_t words_per_row = 0;
  std::vector<std::uint64_t> changed;
  std::uint64_t count = 0;  // of the pixels changed
  int chunks = 0;
  std::size_t blocks = 0;
  std::vector<std::uint64_t> block_start;
  std::vector<std::uint64_t> chunk_start;

  // The figure rows of chunk c: [first, second).
  std::pair<int, int> chunk_rows(int c) const {
    return {int((long long)rows * c / chunks), int((long long)rows * (c + 1) / chunks)};
  }
};

// Finds the pixels of `scene` that the figure changes, with the depth as it
// is before the figure draws, and counts their points. Until draw_robot
// draws them, each keeps the first two components of its normal in its
// emission and coverage planes (which the figure overwrites), so those
// planes must be there. Sets the total of `progress` for the figure's whole
// step and counts this part of it.
RobotPixels find_robot_pixels(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                              StepProgress* progress = nullptr);
// Draws the figure on those pixels: works out the environment at their
// points, then shades and blends them. Writes colour, emission, robot
// coverage and a reflectivity of 0 (left unwritten where it is 0), and the
// figure's depths into `depth_plane` unless it is null. Nothing may have
// changed the scene since its pixels were found.
void draw_robot(const ImagePlanes& scene, const RobotPixels& pixels, const Image& robo, const Image& robo_material,
                const Image& robo_emissive, int aa_scale, float* depth_plane, StepProgress* progress = nullptr);

// What the figure's step holds besides the scene while it draws: for each
// pixel it changes, its two points (kRobotPointFloats), and rows of the
// blurred environment (robot_ring_rows). The search holds a bit a pixel of
// the figure's rectangle.
constexpr int kRobotPointFloats = 6;
// Rows of `width` floats: the kept rows of the environment and the scratch
// of its blur.
double robot_ring_rows(int height, int aa_scale);
// The share of the figure's rectangle that `robo` can cover, for sizing a
// render before it runs: of all texels, those whose 2 x 2 neighbourhood (the
// reach of a bilinear sample) holds coverage.
double robot_cover_share(const Image& robo);

// Both of the above, on planes held anywhere (colour, emission, robot coverage and
// reflectivity), with the depth in either of its forms; in the renderer's
// form the figure's depths are not kept, and a reflectivity that is 0 is
// left unwritten.
void composite_robot(const ImagePlanes& scene, const SceneDepth& depth, const Image& robo,
                     const Image& robo_material, const Image& robo_emissive, int aa_scale,
                     StepProgress* progress = nullptr);

}  // namespace neonvale
