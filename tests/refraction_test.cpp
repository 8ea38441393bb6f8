#include "post/refraction.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "core/channels.hpp"

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
  apply_droplets(scene);
  ASSERT_EQ(scene.data.size(), before.data.size());
  EXPECT_EQ(std::memcmp(scene.data.data(), before.data.data(), scene.data.size() * sizeof(float)), 0);
}

TEST(Refraction, FullCoverageWithoutOffsetKeepsColourAndAddsLight) {
  const Image copy = uniform_scene(8, 8, 0.4f, 0.2f, 0.1f);
  const auto p = droplet_pixel(copy, 3, 4, 0.4f, 0.2f, 0.1f, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f);
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
  const auto p = droplet_pixel(copy, 0, 0, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f);
  EXPECT_NEAR(p[0], 85.0f * 0.012f, 1e-5f);
  EXPECT_NEAR(p[1], 29.0f * 0.012f, 1e-5f);
  EXPECT_EQ(p[2], 0.0f);  // no streak light inside a drop
  // Further right and down, Q moves left and up.
  const auto q = droplet_pixel(copy, 10, 10, 10.0f, 10.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f);
  EXPECT_LT(q[0] - 10.0f, p[0]);
  EXPECT_LT(q[1] - 10.0f, p[1]);
}

TEST(Refraction, OffsetsPastTheEdgeReadTheEdge) {
  Image copy(10, 6, kSceneChannels);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) copy.at(kRed, x, y) = float(x);
  // a = 1/0.95 makes t = 1, so the colour is the refracted sample alone.
  const auto p = droplet_pixel(copy, 2, 2, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f / 0.95f, 1e6f, 0.0f, 0.0f);
  EXPECT_NEAR(p[0] - 0.025f / 0.95f, 9.0f, 1e-4f);
  const auto q = droplet_pixel(copy, 2, 2, 2.0f, 0.0f, 0.0f, 0.0f, 1.0f / 0.95f, -1e6f, 0.0f, 0.0f);
  EXPECT_NEAR(q[0] - 0.025f / 0.95f, 0.0f, 1e-4f);
}

TEST(Refraction, EmissionGainIsBoundedByCoverage) {
  const Image copy = uniform_scene(4, 4, 100.0f, 50.0f, 20.0f);
  const auto p = droplet_pixel(copy, 1, 1, 100.0f, 50.0f, 20.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(p[3], 1.24f, 1e-6f);
  const auto half = droplet_pixel(copy, 1, 1, 100.0f, 50.0f, 20.0f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(half[3], 1.12f, 1e-6f);
}

}  // namespace
}  // namespace neonvale
