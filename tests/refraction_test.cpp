#include "passes/refraction.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/image_planes.hpp"
#include "core/image_reference.hpp"
#include "passes/channels.hpp"
#include "passes/refraction_reference.hpp"

namespace neonvale {
namespace {

// A scene whose colour, depth and emission planes vary from pixel to pixel.
Image patterned_scene(int w, int h) {
  Image scene(w, h, kSceneChannels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      scene.at(kRed, x, y) = 0.1f * float(x) + 0.01f;
      scene.at(kGreen, x, y) = 0.05f * float(y) + 0.3f;
      scene.at(kBlue, x, y) = float((x * 7 + y * 3) % 11) * 0.37f;
      scene.at(kDepth, x, y) = 1000.0f;
      scene.at(kEmission, x, y) = float(x + y) * 0.125f;
      scene.at(kReflectivity, x, y) = 0.5f;
    }
  return scene;
}

Image uniform_scene(int w, int h, float r, float g, float b) {
  Image scene(w, h, kSceneChannels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      scene.at(kRed, x, y) = r;
      scene.at(kGreen, x, y) = g;
      scene.at(kBlue, x, y) = b;
    }
  return scene;
}

TEST(Refraction, DryLensLeavesSceneUnchanged) {
  Image scene = patterned_scene(24, 16);
  const Image before(scene);
  reference::refract(scene);
  ASSERT_EQ(scene.data.size(), before.data.size());
  EXPECT_EQ(std::memcmp(scene.data.data(), before.data.data(), scene.data.size() * sizeof(float)), 0);
}

TEST(Refraction, FullCoverageWithoutOffsetKeepsColourAndAddsLight) {
  const Image copy = uniform_scene(8, 8, 0.4f, 0.2f, 0.1f);
  const auto p = reference::refract_pixel(copy, 3, 4, 0.4f, 0.2f, 0.1f, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(p[0], 0.4f + 0.025f, 1e-6f);
  EXPECT_NEAR(p[1], 0.2f + 0.025f, 1e-6f);
  EXPECT_NEAR(p[2], 0.1f + 0.025f, 1e-6f);
  EXPECT_NEAR(p[3], 0.5f + 0.08f * (0.4f + 0.025f), 1e-6f);
}

TEST(Refraction, DropShowsTheMirroredSceneWithoutStreakLight) {
  // Red holds the column, green the row, so the sample reveals where Q lies.
  Image copy(100, 50, kSceneChannels);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) {
      copy.at(kRed, x, y) = float(x);
      copy.at(kGreen, x, y) = float(y);
    }
  // At (0, 0) with no offset, Q = (85, 29).
  const auto p = reference::refract_pixel(copy, 0, 0, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f);
  EXPECT_NEAR(p[0], 85.0f * 0.012f, 1e-5f);
  EXPECT_NEAR(p[1], 29.0f * 0.012f, 1e-5f);
  EXPECT_EQ(p[2], 0.0f);  // no streak light inside a drop
  // Further right and down, Q moves left and up.
  const auto q = reference::refract_pixel(copy, 10, 10, 10.0f, 10.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f);
  EXPECT_LT(q[0] - 10.0f, p[0]);
  EXPECT_LT(q[1] - 10.0f, p[1]);
}

TEST(Refraction, OffsetsPastTheEdgeReadTheEdge) {
  Image copy(10, 6, kSceneChannels);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) copy.at(kRed, x, y) = float(x);
  // a = 1/0.95 makes t = 1, so the colour is the refracted sample alone.
  const auto p = reference::refract_pixel(copy, 2, 2, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f / 0.95f, 1e6f, 0.0f, 0.0f);
  EXPECT_NEAR(p[0] - 0.025f / 0.95f, 9.0f, 1e-4f);
  const auto q = reference::refract_pixel(copy, 2, 2, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f / 0.95f, -1e6f, 0.0f, 0.0f);
  EXPECT_NEAR(q[0] - 0.025f / 0.95f, 0.0f, 1e-4f);
}

TEST(Refraction, EmissionGainIsBoundedByCoverage) {
  const Image copy = uniform_scene(4, 4, 100.0f, 50.0f, 20.0f);
  const auto p = reference::refract_pixel(copy, 1, 1, 100.0f, 50.0f, 20.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(p[3], 1.24f, 1e-6f);
  const auto half = reference::refract_pixel(copy, 1, 1, 100.0f, 50.0f, 20.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(half[3], 1.12f, 1e-6f);
}

bool same_plane(const Image& a, const Image& b, int c) {
  return std::memcmp(a.plane(c), b.plane(c), a.plane_size() * sizeof(float)) == 0;
}

// Every kind of pixel refract_rows tells apart, spread over a small scene:
// dry ones (some holding -0 or +0 colour or emission, some with stray
// offsets), streak water without a drop (down to subnormal coverage, with
// offsets past the edges) and drops with the lens image.
Image mixed_water_scene(int w, int h) {
  Image scene = patterned_scene(w, h);
  const float tiny = std::numeric_limits<float>::denorm_min();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int kind = (x * 5 + y * 3) % 7;
      float& r = scene.at(kRed, x, y);
      float& g = scene.at(kGreen, x, y);
      float& e = scene.at(kEmission, x, y);
      if ((x + y) % 4 == 0) r = -0.0f;
      if ((x * y) % 5 == 1) g = 0.0f;
      if ((x + 2 * y) % 6 == 0) e = -0.0f;
      const float ox = float((x * 13 + y * 7) % 23) - 11.0f;
      const float oy = float((x * 3 + y * 11) % 19) * 0.75f - 7.0f;
      switch (kind) {
        case 0:  // dry
        case 1:
          break;
        case 2:  // dry, yet with offsets: they must not matter
          scene.at(kOffsetX, x, y) = ox;
          scene.at(kOffsetY, x, y) = -0.0f;
          break;
        case 3:  // streak water only
          scene.at(kWater, x, y) = float(x % 9 + 1) * 0.11f;
          scene.at(kOffsetX, x, y) = ox * 4.0f;
          scene.at(kOffsetY, x, y) = oy;
          break;
        case 4:  // a trace of streak water
          scene.at(kWater, x, y) = tiny * float(y % 3 + 1);
          scene.at(kOffsetX, x, y) = -0.0f;
          break;
        default:  // inside a drop
          scene.at(kWater, x, y) = 1.0f;
          scene.at(kDrop, x, y) = kind == 5 ? 1.0f : 0.4f;
          scene.at(kOffsetX, x, y) = ox;
          scene.at(kOffsetY, x, y) = oy * 3.0f;
          break;
      }
    }
  return scene;
}

// Rows [y0, y1) of the scene's own rain planes, as refract_rows takes them.
ImagePlanes water_rows(Image& scene, int y0, int y1) {
  ImagePlanes water;
  water.width = scene.width;
  water.height = y1 - y0;
  water.channels = kSceneChannels;
  for (int c : {kOffsetX, kOffsetY, kWater, kDrop})
    water.planes[std::size_t(c)] = scene.plane(c) + std::size_t(y0) * std::size_t(scene.width);
  return water;
}

TEST(RefractRows, BandsGiveWhatTheWholePassGivesOnEveryKindOfPixel) {
  const Image start = mixed_water_scene(41, 29);
  Image whole(start);
  reference::refract(whole);

  Image banded(start);
  Image before(start.width, start.height, 3);
  reference::copy_channels(before, start);
  // The scene as a view with only the planes the step may touch.
  ImagePlanes scene;
  scene.width = banded.width;
  scene.height = banded.height;
  scene.channels = kSceneChannels;
  for (int c : {kRed, kGreen, kBlue, kEmission}) scene.planes[std::size_t(c)] = banded.plane(c);
  // Bands out of order, as threads may take them.
  for (auto [y0, y1] : {std::pair{20, 29}, std::pair{0, 1}, std::pair{6, 20}, std::pair{1, 6}})
    refract_rows(scene, planes_of(before), water_rows(banded, y0, y1), y0);

  for (int c = 0; c < kSceneChannels; ++c) EXPECT_TRUE(same_plane(banded, whole, c)) << "plane " << c;
  // A dry pixel keeps its colour; a -0 there turns into 0, as the whole pass
  // makes it, so the comparison above covers that case.
  ASSERT_EQ(start.at(kWater, 0, 0), 0.0f);
  ASSERT_TRUE(std::signbit(start.at(kRed, 0, 0)));
  EXPECT_FALSE(std::signbit(banded.at(kRed, 0, 0)));
  EXPECT_EQ(banded.at(kGreen, 0, 0), start.at(kGreen, 0, 0));
  EXPECT_EQ(banded.at(kBlue, 0, 0), start.at(kBlue, 0, 0));
}

}  // namespace
}  // namespace neonvale
