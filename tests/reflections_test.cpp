#include "passes/reflections_reference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/image_reference.hpp"
#include "filters/value_noise.hpp"
#include "filters/value_noise_reference.hpp"
#include "passes/channels.hpp"

namespace neonvale {
namespace {

// A scene whose colour planes are linear in the row (exact under bilinear
// sampling), with a depth so large that the ripples shrink to ~1e-5 pixels.
Image row_scene(int w, int h, float offset, float robot) {
  Image scene(w, h, kSceneChannels);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      scene.at(kRed, x, y) = offset + float(y);
      scene.at(kGreen, x, y) = offset + 2.0f * float(y);
      scene.at(kBlue, x, y) = offset + 0.5f * float(y);
      scene.at(kDepth, x, y) = 1e6f;
      scene.at(kEmission, x, y) = 3.0f;
      scene.at(kRobot, x, y) = robot;
    }
  }
  return scene;
}

Image flat_snapshot(int w, int h, float colour, float emission) {
  Image snapshot(w, h, 5);
  for (int c = 0; c < 5; ++c) {
    float* p = snapshot.plane(c);
    for (std::size_t i = 0; i < snapshot.plane_size(); ++i) p[i] = c == kEmission ? emission : colour;
  }
  return snapshot;
}

TEST(ReflectPixel, BottomRowUnderRobotShowsLiveMirrorOnly) {
  const int w = 64, h = 40;
  const Image copy = row_scene(w, h, 0.0f, 1.0f);
  // A backdrop this bright would show at once if any of it leaked in.
  const Image snapshot = flat_snapshot(w, h, 1000.0f, 1000.0f);
  const auto out = reference::reflect_pixel(copy, snapshot, 20.0f, float(h - 1), 1.0f, 0.5f);
  const float mirrored_row = 1.65f * float(h) - float(h - 1);  // 27
  EXPECT_NEAR(out[0], 0.72f * mirrored_row + 0.52f * float(h - 1), 1e-3f);
  EXPECT_NEAR(out[1], 0.72f * 2.0f * mirrored_row + 0.52f * 2.0f * float(h - 1), 1e-3f);
  EXPECT_NEAR(out[2], 0.72f * 0.5f * mirrored_row + 0.52f * 0.5f * float(h - 1), 1e-3f);
  EXPECT_NEAR(out[3], 3.0f + 3.0f * 0.32f, 1e-4f);
}

TEST(ReflectPixel, AboveLiveLineMirrorsBackdropAboutHorizon) {
  const int w = 64, h = 40;
  // The live scene is covered by the robot everywhere but must not be used.
  const Image copy = row_scene(w, h, 500.0f, 1.0f);
  const Image snapshot = row_scene(w, h, 0.0f, 0.0f);
  const float y = 28.0f;  // below the horizon, above 0.825 * h = 33
  const float backdrop_row = 1.19f * float(h) - y;  // 19.6
  const auto out = reference::reflect_pixel(copy, snapshot, 10.0f, y, 1.0f, 0.5f);
  EXPECT_NEAR(out[0], 0.72f * backdrop_row + 0.52f * (500.0f + y), 1e-3f);
  EXPECT_NEAR(out[1], 0.72f * 2.0f * backdrop_row + 0.52f * (500.0f + 2.0f * y), 1e-3f);
  EXPECT_NEAR(out[3], 3.0f + 3.0f * 0.32f, 1e-4f);

  // Reflectivity above 1 weights the blend unclamped.
  const auto strong = reference::reflect_pixel(copy, snapshot, 10.0f, y, 1.5f, 0.5f);
  EXPECT_NEAR(strong[0], 1.5f * 0.72f * backdrop_row + (1.0f - 0.72f) * (500.0f + y), 1e-3f);
  EXPECT_NEAR(strong[3], 3.0f + 3.0f * 1.5f * 0.32f, 1e-4f);
}

TEST(ReflectPixel, MirroredPointsOutsideTakeEdgeSamples) {
  const int w = 64, h = 40;
  Image copy = row_scene(w, h, 0.0f, 0.0f);
  for (std::size_t i = 0; i < copy.plane_size(); ++i) copy.plane(kDepth)[i] = 4.2f;  // full ripple
  // Backdrop red is the row, green the column.
  Image snapshot(w, h, 5);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      snapshot.at(kRed, x, y) = float(y);
      snapshot.at(kGreen, x, y) = float(x);
    }
  }
  // Row 0 mirrors to 1.19 * h, below the bottom row; noise 0 pushes the point
  // left of column 0, noise near 1 right of the last column.
  const auto left = reference::reflect_pixel(copy, snapshot, 0.0f, 0.0f, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(left[0], 0.72f * float(h - 1) + 0.52f * copy.at(kRed, 0, 0));
  EXPECT_FLOAT_EQ(left[1], 0.52f * copy.at(kGreen, 0, 0));
  const auto right = reference::reflect_pixel(copy, snapshot, float(w - 1), 0.0f, 1.0f, 0.999f);
  EXPECT_FLOAT_EQ(right[0], 0.72f * float(h - 1) + 0.52f * copy.at(kRed, w - 1, 0));
  EXPECT_FLOAT_EQ(right[1], 0.72f * float(w - 1) + 0.52f * copy.at(kGreen, w - 1, 0));
}

Image varied_scene(int w, int h) {
  Image scene(w, h, kSceneChannels);
  for (int c = 0; c < kSceneChannels; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        scene.at(c, x, y) = 0.5f + 0.5f * std::sin(0.37f * float(x) + 1.3f * float(y) + 0.9f * float(c));
      }
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) scene.at(kDepth, x, y) = 4.0f + float(y);
  }
  return scene;
}

TEST(AddReflections, NonReflectiveSceneIsUnchanged) {
  const int w = 40, h = 30;
  Image scene = varied_scene(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) scene.at(kReflectivity, x, y) = (x + y) % 2 ? 0.0f : -0.5f;
  }
  const Image before(scene);
  const Image snapshot = flat_snapshot(w, h, 2.0f, 2.0f);
  reference::add_reflections(scene, snapshot, 42u);
  EXPECT_EQ(std::memcmp(scene.data.data(), before.data.data(), scene.data.size() * sizeof(float)), 0);
}

TEST(AddReflections, EveryPixelReadsTheUnchangedScene) {
  const int w = 32, h = 24;
  const std::uint32_t seed = 3141541847u;
  Image scene = varied_scene(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) scene.at(kReflectivity, x, y) = (x % 5 == 0) ? 0.0f : 0.3f * float(x % 5);
  }
  Image snapshot(w, h, 5);
  reference::copy_channels(snapshot, scene);
  const Image original(scene);
  reference::add_reflections(scene, snapshot, seed);

  const Image noise = reference::value_noise(w, h, seed, 1.0f);
  int reflected = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const float rho = original.at(kReflectivity, x, y);
      if (!(rho > 0.0f)) {
        for (int c = 0; c < kSceneChannels; ++c) ASSERT_EQ(scene.at(c, x, y), original.at(c, x, y));
        continue;
      }
      const auto out = reference::reflect_pixel(original, snapshot, float(x), float(y), rho, noise.at(0, x, y));
      ASSERT_EQ(scene.at(kRed, x, y), out[0]) << x << "," << y;
      ASSERT_EQ(scene.at(kGreen, x, y), out[1]);
      ASSERT_EQ(scene.at(kBlue, x, y), out[2]);
      ASSERT_EQ(scene.at(kEmission, x, y), out[3]);
      ASSERT_EQ(scene.at(kDepth, x, y), original.at(kDepth, x, y));
      ++reflected;
    }
  }
  EXPECT_GT(reflected, 0);
}

}  // namespace
}  // namespace neonvale
