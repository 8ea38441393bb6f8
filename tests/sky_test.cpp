#include "passes/sky.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "core/image_reference.hpp"
#include "core/random.hpp"
#include "filters/box_blur.hpp"
#include "filters/box_blur_reference.hpp"
#include "passes/channels.hpp"
#include "passes/sky_reference.hpp"

namespace neonvale {
namespace {

// sky_sample reads only the scene's size, so a buffer without planes will do.
const Image kFullHd(1920, 1080, 0);

TEST(SkySample, SunInteriorIsTheSunColour) {
  const SkySample s = reference::sky_sample(kFullHd, 0.6f, 0.40f, 0.0f, 2);
  EXPECT_EQ(s.r, 5.5f);
  EXPECT_EQ(s.g, 1.65f);
  EXPECT_EQ(s.b, 0.19f);
  EXPECT_EQ(s.depth, 1000.0f);
  const double band = std::exp(-(0.17 / 0.19) * (0.17 / 0.19));
  EXPECT_NEAR(s.emission, 2.8 + 0.055 * band, 1e-5);
  EXPECT_NEAR(s.emission, 2.8247, 1e-4);
}

TEST(SkySample, HalfCloudOverTheSun) {
  const SkySample s = reference::sky_sample(kFullHd, 0.6f, 0.40f, 0.5f, 2);
  EXPECT_NEAR(s.r, 2.8109, 1e-4);
  EXPECT_NEAR(s.g, 0.8395, 1e-4);
  EXPECT_NEAR(s.b, 0.1176, 1e-4);
  EXPECT_NEAR(s.emission, 1.4123, 1e-4);
}

TEST(SkySample, StripesOnlyBelowTheUpperDisc) {
  EXPECT_EQ(sun_stripe(0.30f), 1.0f);
  EXPECT_EQ(sun_stripe(0.45f), 1.0f);
  EXPECT_NEAR(sun_stripe(0.49f), 1.26e-5, 0.01e-5);
  EXPECT_LT(sun_stripe(0.4631f), 1e-4);  // the first gap
  EXPECT_EQ(sun_stripe(0.45f + 0.02618f), 1.0f);  // between gaps
}

TEST(SkySample, TopRowIsNearBlackBlue) {
  for (float u : {0.0f, 0.3f, 0.6f, 1.0f}) {
    const SkySample s = reference::sky_sample(kFullHd, u, 0.0f, 0.0f, 2);
    EXPECT_NEAR(s.r, 0.0061f, 0.0001f) << u;
    EXPECT_NEAR(s.g, 0.0120f, 0.0001f) << u;
    EXPECT_GE(s.b, 0.065f) << u;
    EXPECT_LE(s.b, 0.090f) << u;
    EXPECT_NEAR(s.emission, 6.8e-6f, 0.05e-6f) << u;
  }
}

TEST(SkySample, HorizonBandEmitsItsFullWeight) {
  EXPECT_EQ(reference::sky_sample(kFullHd, 0.1f, 0.57f, 0.0f, 2).emission, 0.055f);
}

TEST(CloudCover, ShapingCutsThinNoiseAndCapsThickCloud) {
  EXPECT_EQ(shape_cloud(0.0f), 0.0f);
  EXPECT_EQ(shape_cloud(0.4f), 0.0f);
  EXPECT_GT(shape_cloud(0.41f), 0.0f);
  EXPECT_NEAR(shape_cloud(0.5f), std::pow(0.5f, 1.2f), 1e-6);
  EXPECT_EQ(shape_cloud(1.0f), std::pow(0.88f, 1.2f));
  EXPECT_EQ(shape_cloud(7.0f), std::pow(0.88f, 1.2f));
}

TEST(CloudCover, BlurRadiusFollowsTheHeight) {
  EXPECT_EQ(cloud_blur_radius(90), 1);
  EXPECT_EQ(cloud_blur_radius(479), 1);
  EXPECT_EQ(cloud_blur_radius(480), 2);
  EXPECT_EQ(cloud_blur_radius(1080), 4);
  EXPECT_EQ(cloud_blur_radius(4320), 18);
}

TEST(CloudCover, StaysInRangeWithClearAndCloudyParts) {
  const Image cloud = reference::cloud_cover(160, 90, 1, 1383026975u);
  ASSERT_EQ(cloud.channels, 1);
  int clear = 0;
  for (float q : cloud.data) {
    ASSERT_GE(q, 0.0f);
    ASSERT_LE(q, std::pow(0.88f, 1.2f));
    clear += q == 0.0f;
  }
  EXPECT_GT(clear, 0);
  EXPECT_LT(clear, int(cloud.data.size()));
}

TEST(CloudCover, SeedDecidesTheClouds) {
  const Image a = reference::cloud_cover(160, 90, 2, 7u);
  const Image b = reference::cloud_cover(160, 90, 2, 7u);
  const Image c = reference::cloud_cover(160, 90, 2, 8u);
  EXPECT_TRUE(a.data == b.data);
  EXPECT_FALSE(a.data == c.data);
}

TEST(PaintSky, WritesFivePlanesFromSampleAndCloud) {
  Image scene(160, 90, kSceneChannels);
  reference::paint_sky(scene, 1, 99u);
  const Image cloud = reference::cloud_cover(160, 90, 1, 99u);
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 160; ++x) {
      ASSERT_EQ(scene.at(kDepth, x, y), 1000.0f);
      for (int c = kUnused; c < kSceneChannels; ++c) ASSERT_EQ(scene.at(c, x, y), 0.0f);
    }
  for (auto [x, y] : {std::pair{0, 0}, std::pair{96, 44}, std::pair{159, 89}, std::pair{30, 60}}) {
    const SkySample s = reference::sky_sample(scene, float(x) / 159.0f, float(y) / 89.0f, cloud.at(0, x, y), 1);
    EXPECT_EQ(scene.at(kRed, x, y), s.r);
    EXPECT_EQ(scene.at(kGreen, x, y), s.g);
    EXPECT_EQ(scene.at(kBlue, x, y), s.b);
    EXPECT_EQ(scene.at(kEmission, x, y), s.emission);
  }
}

TEST(PaintSky, LeavesTheOverwrittenRunsAsTheyAre) {
  // Wider than a blur segment, so runs cross segment edges; runs are given
  // for some of the rows only.
  const int w = 600, h = 40;
  Image whole(w, h, kSceneChannels), skipped(w, h, kSceneChannels);
  reference::paint_sky(whole, 2, 7u);
  RowRuns runs(30);
  runs[0] = {{0, 3}, {250, 260}, {511, 513}};
  runs[7] = {{590, 600}};
  runs[29] = {{0, 600}};
  paint_sky_rows(planes_of(skipped), 2, 7u, h, nullptr, &runs);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool covered = false;
      if (y < 30)
        for (const Span& run : runs[std::size_t(y)]) covered = covered || (x >= run.begin && x < run.end);
      for (int c = 0; c < kSceneChannels; ++c)
        ASSERT_EQ(skipped.at(c, x, y), covered && c != kDepth ? 0.0f : whole.at(c, x, y))
            << x << "," << y << " plane " << c;
    }
}

// The renderer paints only the rows above the ground and works out only the
// noise those rows read, which reaches below them by the blur's radius and
// the warp's sway; the rows it paints match the whole sky's, at every AA scale
// and with as few as one row painted.
TEST(PaintSky, RowsAboveTheGroundMatchTheWholeSky) {
  for (int aa : {1, 2, 4}) {
    const int w = 120, h = 45 * aa;
    Image whole(w, h, kSceneChannels);
    reference::paint_sky(whole, aa, 5u);
    for (int rows : {1, h / 3, h - 2}) {
      Image part(w, h, kSceneChannels);
      paint_sky_rows(planes_of(part), aa, 5u, rows);
      for (int c : {kRed, kGreen, kBlue, kDepth, kEmission})
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            ASSERT_EQ(part.at(c, x, y), y < rows ? whole.at(c, x, y) : 0.0f)
                << "AA " << aa << ", " << rows << " rows, plane " << c << " at " << x << "," << y;
    }
  }
}

// cloud_cover enlarges each octave straight into its sum and works row by
// row; written out step by step with the image operations it must give the
// same bits.
TEST(CloudCover, EqualsItsStepByStepRecipe) {
  const int w = 97, h = 61, aa = 2;
  const std::uint32_t seed = 1383026975u;
  Image out(w, h, 1);
  Random rng(seed);
  float amplitude = 1.0f, total = 0.0f;
  for (int i = 0; i < 5; ++i) {
    Image grid(8 << i, 12 << i, 1);
    for (float& g : grid.data) g = rng.next_float();
    reference::add_scaled(out, reference::resample(grid, w, h, true), amplitude);
    total = total + amplitude;
    amplitude = amplitude * 0.55f;
  }
  for (float& q : out.data) q = q / total;
  Image warped(w, h, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float phase = (float(y) / (float(h) - 1.0f)) * 23.0f;
      const float sx = float(x) + std::sin(out.at(0, x, y) * 7.0f + phase) * float(25 * aa);
      const float sy = float(y) + std::sin((float(x) / (float(w) - 1.0f)) * 18.0f) * float(9 * aa);
      warped.at(0, x, y) = out.sample(0, sx, sy, true);
    }
  out = reference::box_blur(warped, cloud_blur_radius(h));
  for (float& q : out.data) q = shape_cloud(q);
  EXPECT_TRUE(reference::cloud_cover(w, h, aa, seed).data == out.data);
}

}  // namespace
}  // namespace neonvale
