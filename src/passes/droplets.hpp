#pragma once
// Pass D: rain streaks and drops on the lens, laid into the water channels
// (refraction offset, water coverage, drop coverage). Colour is not touched.
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "core/random.hpp"

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
// The same, restricted to the rows [row_begin, row_end).
void paint_streak_rows(Image& scene, const RainStreak& streak, int row_begin, int row_end);
void paint_drop_rows(Image& scene, const RainDrop& drop, int row_begin, int row_end);
void paint_droplets(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale
