#pragma once
// Pass D: rain streaks and drops on the lens, laid into the water channels
// (refraction offset, water coverage, drop coverage). Colour is not touched.
#include <cstdint>
#include <vector>

#include "image/image.hpp"
#include "scene/random.hpp"

namespace neonvale {

struct RainStreak {
  int x0, y0, x1, y1;  // half-open pixel box, clipped to the buffer
  float width;         // across-streak scale in pixels
};

struct RainDrop {
  int x0, y0, x1, y1;  // bounding box, not clipped
};

// The streaks and drops as drawn from rng (four draws each), in order.
std::vector<RainStreak> make_streaks(Random& rng, int count, int width, int height);
std::vector<RainDrop> make_drops(Random& rng, int count, int width, int height);
void paint_streak(Image& scene, const RainStreak& streak);
void paint_drop(Image& scene, const RainDrop& drop);
void paint_droplets(Image& scene, int aa_scale, std::uint32_t seed);

}  // namespace neonvale
