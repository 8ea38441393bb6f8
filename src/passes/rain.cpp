#include "passes/rain.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/image.hpp"
#include "core/parallel.hpp"
#include "core/row_table.hpp"
#include "passes/channels.hpp"
#include "passes/droplets.hpp"
#include "passes/refraction.hpp"

namespace neonvale {

namespace {

// The sweep goes down the scene a block of bands at a time.
constexpr int kBlockBands = 16;
constexpr int kBlockRows = kBlockBands * kRainBandRows;

// What the sweep keeps of the colour as it was before the pass (see
// paint_droplets_and_refract): a ring of the latest rows, and the window of
// older rows and columns that the small image inside drops can still read.
struct Keep {
  int above = 0;  // rows above its own that a pixel's refracted sample can read
  int ring_rows = 0;
  Rect window;
};

Keep keep_for(const RainLayer& rain) {
  const int height = rain.height;
  const OffsetBounds bounds = offset_bounds(rain);
  Keep keep;
  for (int y = 0; y < height; ++y) keep.above = std::max(keep.above, y - first_row_refracted(y, bounds.above, height));
  // The rows a block reads from the ring, and the next block's, which are
  // copied in while it runs.
  keep.ring_rows = std::min(height, keep.above + 2 * kBlockRows);
  // A drop's pixel in row y reads the ring down to y - above from the block
  // it lies in; the window holds what its lens reads above that.
  for (const RainDrop& d : rain.drops) {
    const Rect pixels = {std::max(d.x0, 0), std::max(d.y0, 0), std::min(d.x1, rain.width), std::min(d.y1, height)};
    Rect reads = lens_reads(rain.width, height, pixels, bounds.x, bounds.above, bounds.below);
    reads.y1 = std::min(reads.y1, pixels.y1 - keep.above);
    keep.window = bounding(keep.window, reads);
  }
  return keep;
}

}  // namespace

std::size_t rain_scratch_floats(int width, int height, std::uint32_t seed) {
  const Keep keep = keep_for(make_rain(width, height, seed));
  const Rect& w = keep.window;
  const std::size_t window = w.empty() ? 0 : std::size_t(w.height()) * std::size_t(w.width());
  return 3 * (std::size_t(keep.ring_rows) * std::size_t(width) + window);
}

// Only the buffer's size enters, not the AA scale (reference::paint_droplets
// takes it and leaves it unused).
//
// The refraction reads the colour as it was before the pass, at displaced
// places and, inside drops, in a small mirrored image of the scene, while it
// writes the refracted colour in place. The sweep goes down the scene a block
// of rows at a time, the bands of a block side by side, so a read finds:
//   rows below the block: not written yet, in the scene;
//   the block's rows and `above` rows over it: in a ring of copies, taken
//     before their block began (no offset reaches further up, see
//     offset_bounds);
//   older rows: only the lens of a drop reads them, from a window of copies
//     of the rows and columns it can reach (lens_reads), taken as the rows
//     entered the ring.
// Every read goes through a RowTable, which refuses a row or column it does
// not hold rather than give a value already overwritten.
void paint_droplets_and_refract(const ImagePlanes& scene, std::uint32_t seed, StepProgress* progress) {
  if (progress) progress->set_total(scene.height);
  const int width = scene.width;
  const int height = scene.height;
  if (width < 1 || height < 1) return;
  const std::size_t stride = std::size_t(width);
  const RainLayer rain = make_rain(width, height, seed);
  const Keep keep = keep_for(rain);
  const Rect& area = keep.window;

  Image ring = Image::working(width, keep.ring_rows, 3);
  Image window;
  if (!area.empty())
    window = Image(area.width(), area.height(), 3);
  RowTable before(width, height, 3);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < height; ++y) before.hold(c, y, scene.row(kRed + c, y));

  // Copies rows [begin, end) into the ring, and into the window where it
  // holds them.
  const auto keep_rows = [&](int begin, int end) {
    for (int y = begin; y < end; ++y)
      for (int c = 0; c < 3; ++c) {
        const float* from = scene.row(kRed + c, y);
        std::memcpy(ring.plane(c) + std::size_t(y % keep.ring_rows) * stride, from, stride * sizeof(float));
        if (y >= area.y0 && y < area.y1)
          std::memcpy(window.plane(c) + std::size_t(y - area.y0) * std::size_t(window.width),
                      from + area.x0, std::size_t(window.width) * sizeof(float));
      }
  };
  const auto hold_in_ring = [&](int begin, int end) {
    for (int c = 0; c < 3; ++c)
      for (int y = begin; y < end; ++y) before.hold(c, y, ring.plane(c) + std::size_t(y % keep.ring_rows) * stride);
  };
  const auto leave_ring = [&](int begin, int end) {
    for (int c = 0; c < 3; ++c)
      for (int y = begin; y < end; ++y) {
        if (y >= area.y0 && y < area.y1)
          before.hold(c, y, window.plane(c) + std::size_t(y - area.y0) * std::size_t(window.width),
                      area.x0, window.width);
        else
          before.release(c, y);
      }
  };

  keep_rows(0, std::min(height, kBlockRows));
  hold_in_ring(0, std::min(height, kBlockRows));
  int oldest = 0;  // the first row the ring holds
  for (int y0 = 0; y0 < height; y0 += kBlockRows) {
    const int y1 = std::min(height, y0 + kBlockRows);
    const int next_end = std::min(height, y1 + kBlockRows);
    const int bands = (y1 - y0 + kRainBandRows - 1) / kRainBandRows;
    const int copies = (next_end - y1 + kRainBandRows - 1) / kRainBandRows;
    // Each band starts from zeroed rain planes, as the scene buffer's rain
    // planes start, receives every streak and drop in their order and is
    // then refracted; a band writes only its own rows of the scene. Beside
    // them, the next block's rows are copied into the ring, over rows that
    // no read of this block can reach.
    parallel_for(bands + copies, [&](int first, int last) {
      std::vector<float> buffer;
      const std::size_t plane = std::size_t(kRainBandRows) * stride;
      for (int job = first; job < last; ++job) {
        if (job >= bands) {
          const int from = y1 + (job - bands) * kRainBandRows;
          keep_rows(from, std::min(next_end, from + kRainBandRows));
          continue;
        }
        const int band_y0 = y0 + job * kRainBandRows;
        const int rows = std::min(kRainBandRows, y1 - band_y0);
        buffer.assign(rain_band_floats(width), 0.0f);
        ImagePlanes water;
        water.width = width;
        water.height = rows;
        water.channels = kSceneChannels;
        water.planes[kOffsetX] = buffer.data();
        water.planes[kOffsetY] = buffer.data() + plane;
        water.planes[kWater] = buffer.data() + 2 * plane;
        water.planes[kDrop] = buffer.data() + 3 * plane;
        paint_rain_rows(rain, water, band_y0);
        refract_rows(scene, before, water, band_y0);
        advance(progress, rows);
      }
    });
    hold_in_ring(y1, next_end);
    const int needed = std::max(0, y1 - keep.above);
    leave_ring(oldest, needed);
    oldest = std::max(oldest, needed);
  }
}

}  // namespace neonvale
