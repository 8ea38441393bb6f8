#include "passes/ground.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/random.hpp"
#include "filters/value_noise.hpp"
#include "filters/value_noise_reference.hpp"
#include "passes/channels.hpp"
#include "passes/ground_reference.hpp"

namespace neonvale {
namespace {

Image filled(int w, int h, float value) {
  Image image(w, h, 1);
  for (float& v : image.data) v = value;
  return image;
}

// A scene as the sky would leave it: depth 1000 everywhere and a distinct
// marker in every other plane, so untouched samples are easy to recognise.
Image sky_scene(int w, int h) {
  Image scene(w, h, kSceneChannels);
  for (int c = 0; c < kSceneChannels; ++c) {
    float* p = scene.plane(c);
    for (std::size_t i = 0; i < scene.plane_size(); ++i) p[i] = c == kDepth ? kSkyDepth : 0.5f + float(c);
  }
  return scene;
}

TEST(GroundSample, WorkedExampleAtBottomCentre) {
  // Only the size of the scene is read; one channel keeps it small.
  const Image scene(7680, 4320, 1);
  const Image warp = filled(2, 2, 0.5f);
  const Image puddle = filled(2, 2, 0.0f);
  const GroundSample s = reference::ground_sample(scene, 0.5f, 1.0f, warp, puddle, 0.0f, 2);
  ASSERT_TRUE(s.hit);
  EXPECT_NEAR(s.r, 0.3405f, 1e-5f);
  EXPECT_NEAR(s.g, 0.0348f, 1e-4f);
  EXPECT_NEAR(s.b, 0.3477f, 1e-4f);
  EXPECT_NEAR(s.depth, 4.1975f, 1e-4f);
  EXPECT_EQ(s.reflectivity, 0.1f);
  EXPECT_NEAR(s.emission, 0.255f, 1e-6f);
}

TEST(GroundSample, NoHitAtOrAboveHorizon) {
  const Image scene(320, 180, 1);
  const Image noise = filled(2, 2, 0.5f);
  EXPECT_FALSE(reference::ground_sample(scene, 0.5f, 0.595f, noise, noise, 0.0f, 1).hit);
  EXPECT_FALSE(reference::ground_sample(scene, 0.2f, 0.1f, noise, noise, 0.0f, 1).hit);
  EXPECT_TRUE(reference::ground_sample(scene, 0.2f, 0.6f, noise, noise, 0.0f, 1).hit);
}

TEST(GroundSample, LowWarpSwitchesLinesOff) {
  const Image scene(7680, 4320, 1);
  const Image puddle = filled(2, 2, 0.0f);
  for (float w : {0.0f, 0.1f, 0.15f}) {
    const Image warp = filled(2, 2, w);
    // u = 0.5 would sit on an across line if the lines were on.
    const GroundSample s = reference::ground_sample(scene, 0.5f, 1.0f, warp, puddle, 0.0f, 2);
    EXPECT_EQ(s.emission, 0.0f) << "warp " << w;
    EXPECT_EQ(s.r, 0.009f);
    EXPECT_EQ(s.g, 0.009f * 0.75f);
    EXPECT_EQ(s.b, 0.009f * 1.8f);
  }
}

TEST(GroundSample, WetnessFollowsPuddleNoise) {
  const Image scene(640, 360, 1);
  const Image warp = filled(2, 2, 0.0f);
  EXPECT_EQ(reference::ground_sample(scene, 0.3f, 0.9f, warp, filled(2, 2, 0.2f), 0.0f, 1).reflectivity, 0.1f);
  EXPECT_NEAR(reference::ground_sample(scene, 0.3f, 0.9f, warp, filled(2, 2, 0.46f), 0.0f, 1).reflectivity, 0.5f,
              1e-5f);
  EXPECT_EQ(reference::ground_sample(scene, 0.3f, 0.9f, warp, filled(2, 2, 0.57f), 0.0f, 1).reflectivity, 1.0f);
  EXPECT_EQ(reference::ground_sample(scene, 0.3f, 0.9f, warp, filled(2, 2, 0.99f), 0.0f, 1).reflectivity, 1.0f);
}

TEST(GroundSample, AlongLineAtDepthSixWhenUnwarped) {
  const Image scene(1280, 720, 1);
  const Image warp = filled(2, 2, 0.5f);  // e = 0
  const Image puddle = filled(2, 2, 0.0f);
  const float on_line_v = 0.595f + 1.7f / 6.0f;
  // u = 0.37 keeps clear of the across lines at both rows.
  const GroundSample on = reference::ground_sample(scene, 0.37f, on_line_v, warp, puddle, 0.0f, 1);
  const GroundSample off = reference::ground_sample(scene, 0.37f, on_line_v + 0.05f, warp, puddle, 0.0f, 1);
  EXPECT_GT(on.emission, 0.2f);
  EXPECT_LT(off.emission, 0.01f);
}

TEST(PaintGround, SkyRowsUntouchedAndOnlyGroundPlanesWritten) {
  const int w = 24, h = 40;
  Image scene = sky_scene(w, h);
  const Image before(scene);
  reference::paint_ground(scene, 1, 2485691504u);
  for (int y = 0; y < h; ++y) {
    const bool sky_row = !(float(y) / (float(h) - 1.0f) - 0.595f > 0.0f);
    for (int c = 0; c < kSceneChannels; ++c) {
      const bool ground_plane = c <= kEmission || c == kReflectivity;
      for (int x = 0; x < w; ++x) {
        if (sky_row || !ground_plane) {
          ASSERT_EQ(scene.at(c, x, y), before.at(c, x, y)) << "c " << c << " x " << x << " y " << y;
        }
      }
    }
  }
  // The bottom row is ground, 1.7 / 0.405 away and at least slightly wet.
  for (int x = 0; x < w; ++x) {
    EXPECT_NEAR(scene.at(kDepth, x, h - 1), 4.1975f, 1e-4f);
    EXPECT_GE(scene.at(kReflectivity, x, h - 1), 0.1f);
    EXPECT_LE(scene.at(kReflectivity, x, h - 1), 1.0f);
  }
}

TEST(PaintGround, FarRowsAndEqualDepthsKeepTheSky) {
  // With 1001 rows, row 596 lies 0.001 below the horizon: depth 1700 > 1000.
  const int w = 8, h = 1001;
  Image scene = sky_scene(w, h);
  // Row 900: stored depth exactly the ground's depth must not be overwritten.
  const float row900_depth = 1.7f / (900.0f / 1000.0f - 0.595f);
  for (int x = 0; x < w; ++x) scene.at(kDepth, x, 900) = row900_depth;
  reference::paint_ground(scene, 1, 7u);
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(scene.at(kDepth, x, 596), kSkyDepth);
    EXPECT_EQ(scene.at(kRed, x, 596), 0.5f);
    EXPECT_EQ(scene.at(kRed, x, 900), 0.5f);
    EXPECT_EQ(scene.at(kReflectivity, x, 900), 10.5f);
    EXPECT_LT(scene.at(kDepth, x, 700), 20.0f);  // nearer rows are ground
  }
}

TEST(PaintGround, OneGrainDrawPerPixelOfTheWholeBuffer) {
  const int w = 16, h = 12;
  const std::uint32_t seed = 31337u;
  Image scene = sky_scene(w, h);
  reference::paint_ground(scene, 1, seed);

  Random rng(seed);
  const std::uint32_t s1 = rng.draw_seed();
  const std::uint32_t s2 = rng.draw_seed();
  const Image puddle = reference::value_noise(w, h, s1, 0.18f);
  const Image warp = reference::value_noise(w, h, s2, 1.0f);
  for (int i = 0; i < w * h - 1; ++i) rng.next_float();
  const float last_grain = rng.next_float();
  const GroundSample s = reference::ground_sample(scene, 1.0f, 1.0f, warp, puddle, last_grain, 1);
  EXPECT_EQ(scene.at(kRed, w - 1, h - 1), s.r);
  EXPECT_EQ(scene.at(kGreen, w - 1, h - 1), s.g);
  EXPECT_EQ(scene.at(kBlue, w - 1, h - 1), s.b);
  EXPECT_EQ(scene.at(kReflectivity, w - 1, h - 1), s.reflectivity);
  EXPECT_EQ(scene.at(kEmission, w - 1, h - 1), s.emission);
}

TEST(PaintGround, DeterministicForASeed) {
  Image a = sky_scene(48, 27);
  Image b = sky_scene(48, 27);
  Image c = sky_scene(48, 27);
  reference::paint_ground(a, 2, 5u);
  reference::paint_ground(b, 2, 5u);
  reference::paint_ground(c, 2, 6u);
  EXPECT_EQ(std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(float)), 0);
  EXPECT_NE(std::memcmp(a.data.data(), c.data.data(), a.data.size() * sizeof(float)), 0);
}

// The depth table gives every ground pixel's depth, and no depth to rows
// the ground leaves alone.
TEST(GroundRowDepths, EqualDepthPaintedOnEachRow) {
  const int sizes[][2] = {{61, 47}, {40, 90}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    Image scene = sky_scene(w, h);
    reference::paint_ground(scene, 1, 77u);
    const std::vector<float> depths = ground_row_depths(h);
    ASSERT_EQ(depths.size(), std::size_t(h));
    int drawn = 0;
    for (int y = 0; y < h; ++y) {
      const float d = depths[std::size_t(y)];
      const bool ground = std::isfinite(d) && d > 0.0f;
      for (int x = 0; x < w; ++x) {
        if (scene.at(kDepth, x, y) == kSkyDepth) {  // not drawn: the sky is nearer
          ASSERT_EQ(d, kSkyDepth) << "row " << y;
          continue;
        }
        ++drawn;
        ASSERT_TRUE(ground) << "row " << y;
        ASSERT_EQ(scene.at(kDepth, x, y), d) << x << ", " << y;
      }
    }
    EXPECT_GT(drawn, w * h / 3);
  }
}

}  // namespace
}  // namespace neonvale
