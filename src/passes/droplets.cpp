#include "passes/droplets.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/parallel.hpp"
#include "maths/clamp.hpp"
#include "passes/channels.hpp"
#include "passes/droplets_reference.hpp"

namespace neonvale {

namespace {

constexpr float kPi = 3.1415927f;
constexpr int kStreakCount = 1000;
constexpr int kDropCount = 84;

// The four draws of one streak or drop, in their order.
struct Draws {
  float r0, r1, r2, r3;
};

// `count` streaks or drops, each made by make(draws, cx, cy) from its four
// draws and the centre they give, (r0 width, r1 height).
template <class Item, class Make>
std::vector<Item> draw_items(Random& rng, int count, int width, int height, Make make) {
  std::vector<Item> items;
  items.reserve(std::size_t(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    Draws d;
    d.r0 = rng.next_float();
    d.r1 = rng.next_float();
    d.r2 = rng.next_float();
    d.r3 = rng.next_float();
    items.push_back(make(d, d.r0 * float(width), d.r1 * float(height)));
  }
  return items;
}

}  // namespace

std::vector<RainStreak> make_streaks(Random& rng, int count, int width, int height) {
  const float wf = float(width);
  const float hf = float(height);
  return draw_items<RainStreak>(rng, count, width, height, [&](const Draws& d, float cx, float cy) {
    // Lengths follow the height, widths the width, so the rain keeps its look
    // at every resolution.
    const float length = (((1.0f - d.r2) * 10.0f + d.r2 * 48.0f) * hf) / 720.0f;
    const float across = (((1.0f - d.r3) * 0.55f + d.r3 * 1.3f) * wf) / 1280.0f;
    RainStreak s;
    s.box.x0 = std::max(0, int(cx - 5.0f));
    s.box.y0 = std::max(0, int(cy));
    // The box reaches 0.22 L to the right to hold the lean of 0.18 px per row.
    s.box.x1 = std::min(width, int((length * 0.22f + cx) + 5.0f));
    s.box.y1 = std::min(height, int((length + cy) + 1.0f));
    s.width = across;
    return s;
  });
}

std::vector<RainDrop> make_drops(Random& rng, int count, int width, int height) {
  const float hf = float(height);
  return draw_items<RainDrop>(rng, count, width, height, [&](const Draws& d, float cx, float cy) {
    const float rx = (((1.0f - d.r2) * 9.0f + d.r2 * 38.0f) * hf) / 720.0f;
    const float ry = ((1.0f - d.r3) * 1.1f + d.r3 * 1.9f) * rx;  // 1.1 to 1.9 times taller than wide
    // Not clipped: the painter derives centre and half-axes from the full box.
    return RainDrop{int(cx - rx), int(cy - ry), int(rx + cx), int(ry + cy)};
  });
}

namespace {

// The painters write rows [row_begin, row_end) of a buffer held in `planes`,
// whose row r is row origin + r of the buffer; indices follow the buffer's
// own rows, so a strip of rows sees exactly the values the whole buffer does.
void streak_rows(const ImagePlanes& planes, int origin, const RainStreak& streak, int row_begin, int row_end) {
  const float span = float(streak.box.y1 - streak.box.y0) - 1.0f;
  const float w = streak.width;
  const int first = std::max({streak.box.y0, row_begin, origin});
  const int last = std::min({streak.box.y1, row_end, origin + planes.height});
  for (int y = first; y < last; ++y) {
    const float along = float(y) - float(streak.box.y0);
    const float t = along / span;
    // A one-row (or clipped-away) streak, or a degenerate width, adds nothing;
    // the writes still happen so every box pixel goes through the same steps.
    const bool active = span > 0.0f && w > 0.0f && t >= 0.0f && t <= 1.0f;
    float profile = 0.0f;
    float centre = 0.0f;
    if (active) {
      profile = std::pow(std::max(std::sin(t * kPi), 0.0f), 0.7f);
      centre = along * 0.18f + (float(streak.box.x0) + 5.0f);
    }
    float* const off_x = planes.row(kOffsetX, y - origin);
    float* const off_y = planes.row(kOffsetY, y - origin);
    float* const water = planes.row(kWater, y - origin);
    for (int x = streak.box.x0; x < streak.box.x1; ++x) {
      float g = 0.0f, dx = 0.0f, dy = 0.0f;
      if (active) {
        const float m = (float(x) - centre) / w;
        g = std::exp(-m * m * 1.8f) * profile;
        dx = g * m * 5.0f;
        dy = g * 2.5f;
      }
      off_x[x] += dx;
      off_y[x] += dy;
      water[x] = clamp<NanGoes::kThrough>(water[x] + g, 0.0f, 1.0f);
    }
  }
}

void drop_rows(const ImagePlanes& planes, int origin, const RainDrop& drop, int row_begin, int row_end) {
  // Sums and differences in integers first, then to float.
  const float cxd = float(drop.x0 + drop.x1) * 0.5f;
  const float cyd = float(drop.y0 + drop.y1) * 0.5f;
  const float a = float(drop.x1 - drop.x0) * 0.5f;
  const float b = float(drop.y1 - drop.y0) * 0.5f;
  const bool solid = a > 0.0f && b > 0.0f;
  const int ys = std::max({origin, drop.y0, row_begin});
  const int ye = std::min({drop.y1, origin + planes.height, row_end});
  const int xs = std::max(0, drop.x0), xe = std::min(drop.x1, planes.width);
  for (int y = ys; y < ye; ++y) {
    float* const off_x = planes.row(kOffsetX, y - origin);
    float* const off_y = planes.row(kOffsetY, y - origin);
    float* const water = planes.row(kWater, y - origin);
    float* const cover = planes.row(kDrop, y - origin);
    float v = 0.0f, taper = 1.0f;
    if (solid) {
      v = (float(y) - cyd) / b;
      // About 0.61 at the top and 0.99 at the bottom: an egg, narrow on top.
      taper = std::tanh(2.0f * v) * 0.2f + 0.8f;
    }
    for (int x = xs; x < xe; ++x) {
      float mask = 0.0f, ox = 0.0f, oy = 0.0f;
      if (solid) {
        float u = (float(x) - cxd) / a;
        u = u / taper;
        // The sine wobbles the rim a little.
        const float g = 1.0f - ((u * u + v * v) + std::sin(u * 8.0f + v * 5.0f) * 0.05f);
        mask = clamp<NanGoes::kThrough>(g * 9.0f, 0.0f, 1.0f);
        // Lens-like: the offset grows away from the centre and falls to 0 at the rim.
        const float root = std::sqrt(std::max(g, 0.0f));
        ox = u * a * 0.9f * root;
        oy = v * b * 0.9f * root;
      }
      off_x[x] = (1.0f - mask) * off_x[x] + mask * ox;
      off_y[x] = (1.0f - mask) * off_y[x] + mask * oy;
      water[x] = std::max(mask, water[x]);
      cover[x] = std::max(mask, cover[x]);
    }
  }
}

// Every streak, then every drop, on rows [row_begin, row_end): each pixel
// receives the same sequence of writes as in one serial sweep of the buffer.
void rain_rows(const RainLayer& rain, const ImagePlanes& planes, int origin, int row_begin, int row_end) {
  for (const RainStreak& s : rain.streaks) streak_rows(planes, origin, s, row_begin, row_end);
  for (const RainDrop& d : rain.drops) drop_rows(planes, origin, d, row_begin, row_end);
}

}  // namespace

RainLayer make_rain(int width, int height, std::uint32_t seed) {
  Random rng(seed);
  // All streaks are drawn before any is painted, and the drops only after, so
  // the draw sequence is 4000 floats for the streaks, then 336 for the drops.
  RainLayer rain;
  rain.width = width;
  rain.height = height;
  rain.streaks = make_streaks(rng, kStreakCount, width, height);
  rain.drops = make_drops(rng, kDropCount, width, height);
  return rain;
}

void paint_rain_rows(const RainLayer& rain, const ImagePlanes& band, int y0) {
  rain_rows(rain, band, y0, y0, y0 + band.height);
}

namespace {

// The most streak boxes that hold one pixel: for every stretch of rows that
// the same boxes span, the most of their column ranges that overlap.
int most_streaks_at_a_pixel(const std::vector<RainStreak>& streaks) {
  std::vector<int> edges;
  for (const RainStreak& s : streaks)
    if (!s.box.empty()) edges.insert(edges.end(), {s.box.y0, s.box.y1});
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  int most = 0;
  std::vector<std::pair<int, int>> ends;  // column, +1 where a box starts, -1 past its end
  for (std::size_t e = 0; e + 1 < edges.size(); ++e) {
    ends.clear();
    for (const RainStreak& s : streaks)
      if (s.box.x0 < s.box.x1 && s.box.y0 <= edges[e] && s.box.y1 >= edges[e + 1])
        ends.insert(ends.end(), {{s.box.x0, 1}, {s.box.x1, -1}});
    // An end sorts before a start at the same column: the ranges are half-open.
    std::sort(ends.begin(), ends.end());
    int count = 0;
    for (const auto& end : ends) most = std::max(most, count += end.second);
  }
  return most;
}

}  // namespace

// Every streak adds to a pixel's offsets, every drop blends them towards its
// own with a weight in [0, 1], so an offset stays within what the streaks
// over the pixel add up to and what any drop sets; rounding the blends moves
// it by a few units in the last place at most, far inside the margin added
// at the end. A streak adds dy = 2.5 g in [0, 2.5] (g = e^(-1.8 m^2) times a
// profile in [0, 1]), and dx = 5 g m, where |m e^(-1.8 m^2)| <= 0.3197. A
// drop of half-sizes a and b sets dx = 0.9 a u r and dy = 0.9 b v r with
// r = sqrt(max(g, 0)) and g <= 1.05 - u^2 - v^2, so |u| r <= |u| sqrt(1.05 - u^2)
// <= 0.525 and |dx| <= 0.4725 a, and the same for dy and b: both stay within
// half the drop's size.
OffsetBounds offset_bounds(const RainLayer& rain) {
  const float streaks = float(most_streaks_at_a_pixel(rain.streaks));
  float drop_x = 0.0f, drop_y = 0.0f;
  for (const RainDrop& d : rain.drops) {
    if (d.x1 <= 0 || d.x0 >= rain.width || d.y1 <= 0 || d.y0 >= rain.height) continue;
    drop_x = std::max(drop_x, float(d.x1 - d.x0) * 0.5f);
    drop_y = std::max(drop_y, float(d.y1 - d.y0) * 0.5f);
  }
  const auto margin = [](float bound) { return bound * 1.01f + 1.0f; };
  OffsetBounds bounds;
  bounds.x = margin(std::max(1.6f * streaks, 0.5f * drop_x));
  bounds.above = margin(0.5f * drop_y);
  bounds.below = margin(std::max(2.5f * streaks, 0.5f * drop_y));
  return bounds;
}

namespace reference {

void paint_droplets(Image& scene, int /*aa_scale*/, std::uint32_t seed, StepProgress* progress) {
  if (progress) progress->set_total(scene.height);
  // The AA scale does not enter: every size follows the buffer's own size.
  const RainLayer rain = make_rain(scene.width, scene.height, seed);
  const ImagePlanes planes = planes_of(scene);
  // Bands of rows are independent: each sees every streak, then every drop.
  parallel_rows(scene.height, scene.width, [&](int begin, int end) {
    rain_rows(rain, planes, 0, begin, end);
    advance(progress, end - begin);
  });
}

void paint_streak(Image& scene, const RainStreak& streak) { streak_rows(planes_of(scene), 0, streak, 0, scene.height); }

void paint_drop(Image& scene, const RainDrop& drop) { drop_rows(planes_of(scene), 0, drop, 0, scene.height); }

}  // namespace reference

}  // namespace neonvale
