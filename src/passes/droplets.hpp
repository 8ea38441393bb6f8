#pragma once
// The droplets, the first half of the rain step: rain streaks and drops on
// the lens, laid into the water channels (refraction offset, water coverage,
// drop coverage). Colour is not touched.
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/random.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

struct RainStreak {
  Rect box;     // clipped to the buffer
  float width;  // across-streak scale in pixels
};

// A drop is its bounding box, not clipped: the painter derives its centre and
// half-axes from the whole box.
using RainDrop = Rect;

// The streaks and drops as drawn from rng (four draws each), in order.
std::vector<RainStreak> make_streaks(Random& rng, int count, int width, int height);
std::vector<RainDrop> make_drops(Random& rng, int count, int width, int height);

// The rain of one buffer: every streak, then every drop, drawn once.
struct RainLayer {
  int width = 0;
  int height = 0;
  std::vector<RainStreak> streaks;
  std::vector<RainDrop> drops;
};
// The rain of a width x height buffer with this seed.
RainLayer make_rain(int width, int height, std::uint32_t seed);
// Paints the rows [y0, y0 + band.height) of the rain into `band`, a strip of
// rain.width columns whose row r holds row y0 + r of the buffer; only its
// planes kOffsetX, kOffsetY, kWater and kDrop are used. Every streak, then
// every drop, makes exactly the writes it makes to these rows in
// reference::paint_droplets, so a band that starts at zero ends with the
// rows that pass leaves in a zeroed buffer.
void paint_rain_rows(const RainLayer& rain, const ImagePlanes& band, int y0);

// Bounds of the refraction offsets the rain leaves anywhere in its buffer:
// |offset x| <= x and -above <= offset y <= below at every pixel, whatever
// the split into bands.
struct OffsetBounds {
  float x = 0.0f;
  float above = 0.0f;
  float below = 0.0f;
};
OffsetBounds offset_bounds(const RainLayer& rain);

}  // namespace neonvale
