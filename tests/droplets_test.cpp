#include "passes/droplets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/random.hpp"
#include "passes/channels.hpp"
#include "passes/droplets_reference.hpp"

namespace neonvale {
namespace {

bool same_bits(const Image& a, const Image& b) {
  return a.data.size() == b.data.size() && std::memcmp(a.data.data(), b.data.data(), a.data.size() * 4) == 0;
}

TEST(DropletLayout, BoxesForSeed5489AtFullSize) {
  // Only the sizes enter the layout, so no 7680 x 4320 buffer is needed.
  Random rng(5489);
  const std::vector<RainStreak> streaks = make_streaks(rng, 1000, 7680, 4320);
  ASSERT_EQ(streaks.size(), 1000u);
  EXPECT_EQ(streaks[0].box.x0, 6252);
  EXPECT_EQ(streaks[0].box.y0, 585);
  EXPECT_EQ(streaks[0].box.x1, 6320);
  EXPECT_EQ(streaks[0].box.y1, 852);
  EXPECT_NEAR(streaks[0].width, 7.0575f, 1e-4f);
  // The second streak runs into the bottom edge and is cut there.
  EXPECT_EQ(streaks[1].box.x0, 970);
  EXPECT_EQ(streaks[1].box.y0, 4185);
  EXPECT_EQ(streaks[1].box.x1, 1039);
  EXPECT_EQ(streaks[1].box.y1, 4320);

  // The drops draw after all 4000 streak draws.
  const std::vector<RainDrop> drops = make_drops(rng, 84, 7680, 4320);
  ASSERT_EQ(drops.size(), 84u);
  EXPECT_EQ(drops[0].x0, 5511);
  EXPECT_EQ(drops[0].y0, 1044);
  EXPECT_EQ(drops[0].x1, 5929);
  EXPECT_EQ(drops[0].y1, 1763);
  EXPECT_EQ(drops[1].x0, 1786);
  EXPECT_EQ(drops[1].y0, 1221);
  EXPECT_EQ(drops[1].x1, 1939);
  EXPECT_EQ(drops[1].y1, 1470);
}

TEST(DropletLayout, StreakBoxesStayInsideTheBuffer) {
  Random rng(77);
  for (const RainStreak& s : make_streaks(rng, 1000, 200, 120)) {
    EXPECT_GE(s.box.x0, 0);
    EXPECT_GE(s.box.y0, 0);
    EXPECT_LE(s.box.x1, 200);
    EXPECT_LE(s.box.y1, 120);
  }
}

TEST(DropletStreak, OneRowStreakChangesNothing) {
  Image scene(16, 16, kSceneChannels);
  scene.at(kWater, 5, 3) = 0.5f;
  const Image before(scene);
  reference::paint_streak(scene, {2, 3, 12, 4, 1.0f});
  EXPECT_TRUE(same_bits(scene, before));
}

TEST(DropletStreak, CentreOfStreakHasFullStrength) {
  // Span 100 rows: row 50 is t = 0.5; the centre line there is at
  // 50 * 0.18 + (0 + 5) = 14.
  Image scene(32, 101, kSceneChannels);
  reference::paint_streak(scene, {0, 0, 30, 101, 2.0f});
  EXPECT_FLOAT_EQ(scene.at(kWater, 14, 50), 1.0f);
  EXPECT_FLOAT_EQ(scene.at(kOffsetX, 14, 50), 0.0f);
  EXPECT_FLOAT_EQ(scene.at(kOffsetY, 14, 50), 2.5f);
  // Offsets point away from the centre line; the ends fade to nothing.
  EXPECT_LT(scene.at(kOffsetX, 12, 50), 0.0f);
  EXPECT_GT(scene.at(kOffsetX, 16, 50), 0.0f);
  EXPECT_EQ(scene.at(kWater, 5, 0), 0.0f);
  EXPECT_LT(scene.at(kWater, 23, 100), 1e-6f);
  for (float v : std::vector<float>(scene.plane(kDrop), scene.plane(kDrop) + scene.plane_size())) EXPECT_EQ(v, 0.0f);
}

TEST(DropletDrop, CentrePixelIsFullyCoveredWithoutOffset) {
  Image scene(32, 40, kSceneChannels);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 32; ++x) {
      scene.at(kOffsetX, x, y) = 3.0f;
      scene.at(kOffsetY, x, y) = -2.0f;
    }
  reference::paint_drop(scene, {10, 10, 20, 30});  // centre (15, 20)
  EXPECT_EQ(scene.at(kOffsetX, 15, 20), 0.0f);
  EXPECT_EQ(scene.at(kOffsetY, 15, 20), 0.0f);
  EXPECT_EQ(scene.at(kWater, 15, 20), 1.0f);
  EXPECT_EQ(scene.at(kDrop, 15, 20), 1.0f);
  // Outside the box nothing changes.
  EXPECT_EQ(scene.at(kOffsetX, 25, 20), 3.0f);
  EXPECT_EQ(scene.at(kDrop, 25, 20), 0.0f);
}

TEST(DropletDrop, PartlyOutsideDropIsClippedAroundItsOwnCentre) {
  Image scene(16, 16, kSceneChannels);
  reference::paint_drop(scene, {-10, -12, 10, 12});  // centre (0, 0), mostly outside
  EXPECT_EQ(scene.at(kDrop, 0, 0), 1.0f);
  EXPECT_EQ(scene.at(kOffsetX, 0, 0), 0.0f);
  EXPECT_GT(scene.at(kOffsetX, 5, 0), 0.0f);  // pointing outward
  EXPECT_GT(scene.at(kOffsetY, 0, 6), 0.0f);
  EXPECT_EQ(scene.at(kDrop, 15, 15), 0.0f);   // beyond the rim
}

TEST(DropletPass, LayerStaysInRange) {
  Image scene(160, 90, kSceneChannels);
  reference::paint_droplets(scene, 2, 1286516326u);

  bool any_drop = false;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 160; ++x) {
      const float water = scene.at(kWater, x, y), drop = scene.at(kDrop, x, y);
      ASSERT_GE(water, 0.0f);
      ASSERT_LE(water, 1.0f);
      ASSERT_GE(drop, 0.0f);
      ASSERT_LE(drop, water);
      any_drop = any_drop || drop > 0.0f;
      for (int c : {kRed, kGreen, kBlue, kDepth, kEmission, kUnused, kRobot, kReflectivity})
        ASSERT_EQ(scene.at(c, x, y), 0.0f);
    }
  EXPECT_TRUE(any_drop);
}

// The four rain planes of rows [y0, y0 + rows) painted on their own, from
// zero, laid out as paint_rain_rows receives them.
struct Band {
  std::vector<float> values;
  ImagePlanes planes;
  Band(const RainLayer& rain, int y0, int rows) : values(std::size_t(4) * std::size_t(rows) * std::size_t(rain.width)) {
    planes.width = rain.width;
    planes.height = rows;
    planes.channels = kSceneChannels;
    const std::size_t plane = std::size_t(rows) * std::size_t(rain.width);
    planes.planes[kOffsetX] = values.data();
    planes.planes[kOffsetY] = values.data() + plane;
    planes.planes[kWater] = values.data() + 2 * plane;
    planes.planes[kDrop] = values.data() + 3 * plane;
    paint_rain_rows(rain, planes, y0);
  }
};

// Row y of the rain planes painted in bands of the given heights (cycled)
// equals row y of paint_droplets, bit for bit, for every plane.
void expect_bands_match(const Image& whole, const RainLayer& rain, const std::vector<int>& heights) {
  int y0 = 0;
  for (std::size_t k = 0; y0 < whole.height; ++k) {
    const int rows = std::min(heights[k % heights.size()], whole.height - y0);
    const Band band(rain, y0, rows);
    for (int c : {kOffsetX, kOffsetY, kWater, kDrop})
      ASSERT_EQ(std::memcmp(band.planes.planes[std::size_t(c)], whole.plane(c) + std::size_t(y0) * whole.width,
                            std::size_t(rows) * std::size_t(whole.width) * sizeof(float)),
                0)
          << "plane " << c << ", band of rows " << y0 << " to " << y0 + rows;
    y0 += rows;
  }
}

TEST(DropletBands, AnySplitOfRowsPaintsWhatTheWholePassPaints) {
  struct Case {
    int w, h;
    std::uint32_t seed;
  };
  for (const Case& c : {Case{320, 180, 1286516326u}, Case{203, 97, 5489u}, Case{128, 360, 77u}, Case{400, 64, 3u}}) {
    Image whole(c.w, c.h, kSceneChannels);
    reference::paint_droplets(whole, 1, c.seed);
    const RainLayer rain = make_rain(c.w, c.h, c.seed);
    ASSERT_EQ(rain.streaks.size(), 1000u);
    ASSERT_EQ(rain.drops.size(), 84u);
    for (const std::vector<int>& heights :
         {std::vector<int>{1}, std::vector<int>{16}, std::vector<int>{c.h}, std::vector<int>{7, 1, 30, 2, 13}}) {
      SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << ", first band " << heights[0] << " rows");
      expect_bands_match(whole, rain, heights);
    }
  }
}

// The rain step keeps the colour a refracted read can reach by these bounds;
// an offset outside them would read a value already overwritten. Every
// offset the painters leave lies within them. The upward bound, which sizes
// the ring of kept rows, is not loose: the largest upward offset comes within
// a few pixels and a few percent of it (the downward one assumes every
// streak over a pixel at full strength).
TEST(DropletPass, OffsetsStayWithinTheirBounds) {
  struct Case {
    int w, h;
    std::uint32_t seed;
  };
  for (const Case& c : {Case{320, 180, 1286516326u}, Case{160, 480, 955601140u}, Case{640, 90, 5489u}}) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << ", seed " << c.seed);
    Image scene(c.w, c.h, kSceneChannels);
    reference::paint_droplets(scene, 1, c.seed);
    const OffsetBounds bounds = offset_bounds(make_rain(c.w, c.h, c.seed));
    float most_x = 0.0f, most_above = 0.0f, most_below = 0.0f;
    for (std::size_t i = 0; i < scene.plane_size(); ++i) {
      const float ox = scene.plane(kOffsetX)[i], oy = scene.plane(kOffsetY)[i];
      most_x = std::max(most_x, std::fabs(ox));
      most_above = std::max(most_above, -oy);
      most_below = std::max(most_below, oy);
    }
    EXPECT_LE(most_x, bounds.x);
    EXPECT_LE(most_above, bounds.above);
    EXPECT_LE(most_below, bounds.below);
    EXPECT_GT(most_above * 1.2f + 3.0f, bounds.above);
  }
}

// The refraction treats water and drop coverage of 0 as +0, and skips work
// there on that ground; the painters must never leave a -0 in either.
TEST(DropletPass, CoverageIsNeverNegativeZero) {
  for (std::uint32_t seed : {1u, 2u, 1286516326u}) {
    Image scene(320, 180, kSceneChannels);
    reference::paint_droplets(scene, 2, seed);
    std::size_t dry = 0;
    for (int c : {kWater, kDrop}) {
      const float* p = scene.plane(c);
      for (std::size_t i = 0; i < scene.plane_size(); ++i) {
        ASSERT_FALSE(p[i] == 0.0f && std::signbit(p[i])) << "plane " << c << ", sample " << i;
        dry += c == kWater && p[i] == 0.0f;
      }
    }
    // Both kinds of pixel occur, so the check has something to look at.
    EXPECT_GT(dry, 0u);
    EXPECT_LT(dry, scene.plane_size());
  }
}

}  // namespace
}  // namespace neonvale
