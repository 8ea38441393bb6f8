#include "passes/robot.hpp"

#include <gtest/gtest.h>

#include "core/image_reference.hpp"
#include "filters/box_blur.hpp"
#include "filters/box_blur_reference.hpp"
#include "passes/channels.hpp"
#include "passes/robot_reference.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

Image filled(int w, int h, std::initializer_list<float> values) {
  Image image(w, h, int(values.size()));
  int c = 0;
  for (float v : values) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) image.at(c, x, y) = v;
    ++c;
  }
  return image;
}

// Channel 0 holds u and channel 1 holds v of each pixel, so a lookup returns
// the point it was made at.
Image position_ramp() {
  Image env(101, 101, 3);
  for (int y = 0; y < 101; ++y)
    for (int x = 0; x < 101; ++x) {
      env.at(0, x, y) = float(x) / 100.0f;
      env.at(1, x, y) = float(y) / 100.0f;
    }
  return env;
}

// A scene buffer behind the figure: sky depth, a colour per pixel.
Image backdrop(int w, int h) {
  Image scene(w, h, kSceneChannels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      scene.at(kRed, x, y) = 0.01f * float(x);
      scene.at(kGreen, x, y) = 0.02f * float(y);
      scene.at(kBlue, x, y) = 0.5f;
      scene.at(kDepth, x, y) = kSkyDepth;
      scene.at(kEmission, x, y) = 0.75f;
      scene.at(kReflectivity, x, y) = 0.3f;
      scene.at(kDrop, x, y) = 0.125f;
    }
  return scene;
}

TEST(FigureRect, FullSizeBufferWithTallRobot) {
  const FigureRect rect = figure_rect(7680, 4320, 1024, 1536);
  EXPECT_EQ(rect.x0, 537);
  EXPECT_EQ(rect.y0, 561);
  EXPECT_EQ(rect.height, 3326);
  EXPECT_EQ(rect.width, 2217);
  // Only the robot's aspect matters.
  EXPECT_EQ(figure_rect(7680, 4320, 512, 768).width, 2217);
  EXPECT_EQ(figure_rect(7680, 4320, 1536, 1536).width, 3326);
}

TEST(RobotSample, ZeroNormalLooksStraightAhead) {
  const Image env = position_ramp();
  const Image robo = filled(2, 2, {0.5f, 0.5f, 0.5f, 1.0f});
  const Image material = filled(2, 2, {0.0f, 0.0f, 0.0f, 0.25f});  // 4 m = 1
  const Image emissive = filled(2, 2, {0.0f, 0.0f, 0.0f});
  const RobotSample s = reference::robot_sample(env, robo, material, emissive, 0.2f, 0.4f);
  EXPECT_EQ(s.nx, 0.0f);
  EXPECT_EQ(s.ny, 0.0f);
  EXPECT_EQ(s.nz, 0.0f);
  EXPECT_FLOAT_EQ(s.depth, 3.2f);
  EXPECT_EQ(s.alpha, 1.0f);
  EXPECT_EQ(s.reflectivity, 0.0f);
  // Near point (0.2, 0.4), far point (0.64, 0.50).
  const float e0 = 0.28f * 0.64f + 0.72f * 0.2f;
  const float e1 = 0.28f * 0.50f + 0.72f * 0.4f;
  const float y = (0.21f * e0 + 0.72f * e1) * 0.45f;
  EXPECT_NEAR(s.r, 0.55f * e0 + y, 1e-5f);
  EXPECT_NEAR(s.g, 0.55f * e1 + y, 1e-5f);
  EXPECT_NEAR(s.b, y, 1e-5f);
  EXPECT_EQ(s.emission, 0.0f);
}

TEST(RobotSample, NormalIsRenormalisedAndSetsDepth) {
  const Image env(4, 4, 3);
  // Stored normal (0, 0, 0.5): decodes to length 0.5, renormalised to +z.
  const Image facing = filled(2, 2, {0.5f, 0.5f, 0.75f, 1.0f});
  const Image away = filled(2, 2, {0.5f, 0.5f, 0.0f, 1.0f});
  const Image material = filled(2, 2, {0.0f, 0.0f, 0.0f, 0.5f});
  const Image emissive(2, 2, 3);
  const RobotSample f = reference::robot_sample(env, facing, material, emissive, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(f.nz, 1.0f);
  EXPECT_FLOAT_EQ(f.depth, 2.9f);
  const RobotSample a = reference::robot_sample(env, away, material, emissive, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(a.nz, -1.0f);
  EXPECT_FLOAT_EQ(a.depth, 3.5f);
}

TEST(RobotSample, OnlyLightAboveOneFeedsTheGlow) {
  const Image env(4, 4, 3);
  const Image robo = filled(2, 2, {0.5f, 0.5f, 1.0f, 1.0f});
  const Image material = filled(2, 2, {0.5f, 0.25f, 0.0f, 1.0f});
  const RobotSample dim = reference::robot_sample(env, robo, material, Image(2, 2, 3), 0.3f, 0.3f);
  EXPECT_EQ(dim.r, 1.0f);  // base colour counts twice
  EXPECT_EQ(dim.g, 0.5f);
  EXPECT_EQ(dim.emission, 0.0f);
  // 3 in the brightest channel: 2 * 0.5 + 24 * (1 / 12).
  const Image emissive = filled(2, 2, {1.0f / 12.0f, 0.0f, 0.0f});
  const RobotSample bright = reference::robot_sample(env, robo, material, emissive, 0.3f, 0.3f);
  EXPECT_NEAR(bright.r, 3.0f, 1e-6f);
  EXPECT_NEAR(bright.emission, 0.1f, 1e-7f);
  // A fully emissive channel adds 24.
  const Image full = filled(2, 2, {0.0f, 0.0f, 1.0f});
  EXPECT_EQ(reference::robot_sample(env, robo, material, full, 0.3f, 0.3f).b, 24.0f);
}

TEST(RobotSample, ThreeChannelAssetsWrapTheirChannels) {
  const Image env = filled(4, 4, {0.5f, 0.5f, 0.5f});
  // No alpha: the first normal component is read as coverage, the red of the
  // material as reflection strength.
  const Image robo = filled(2, 2, {0.75f, 0.5f, 0.5f});
  const Image material = filled(2, 2, {0.125f, 0.0f, 0.0f});
  const RobotSample s = reference::robot_sample(env, robo, material, Image(2, 2, 3), 0.5f, 0.5f);
  EXPECT_EQ(s.alpha, 0.75f);
  EXPECT_FLOAT_EQ(s.nx, 1.0f);
  // Grey environment 0.5: desaturated to 0.55 * 0.5 + 0.5 * 0.45, times 4 m.
  const float grey = 0.55f * 0.5f + (0.21f * 0.5f + 0.72f * 0.5f + 0.07f * 0.5f) * 0.45f;
  EXPECT_NEAR(s.g, 0.5f * grey, 1e-6f);
  EXPECT_NEAR(s.r, 0.5f * grey + 0.25f, 1e-6f);
}

// The figure drawn over `scene` as the plain recipe has it: the environment
// blurred whole, every covered pixel in front shaded by robot_sample and
// blended over what is there.
Image drawn_by_recipe(const Image& scene, const Image& robo, const Image& material, const Image& emissive,
                      int aa_scale) {
  Image drawn = scene;
  Image env(scene.width, scene.height, 3);
  reference::copy_channels(env, scene);
  env = reference::box_blur(env, 2 * aa_scale);
  const FigureRect rect = figure_rect(scene.width, scene.height, robo.width, robo.height);
  for (int i = 0; i < rect.height && rect.y0 + i < scene.height; ++i)
    for (int j = 0; j < rect.width && rect.x0 + j < scene.width; ++j) {
      const float u = float(j) / (float(rect.width) - 1.0f), v = float(i) / (float(rect.height) - 1.0f);
      const RobotSample s = reference::robot_sample(env, robo, material, emissive, u, v);
      const int x = rect.x0 + j, y = rect.y0 + i;
      if (!(s.alpha > 0.0f) || !(s.depth < scene.at(kDepth, x, y))) continue;
      const float a = s.alpha;
      drawn.at(kRed, x, y) = s.r * a + (1.0f - a) * scene.at(kRed, x, y);
      drawn.at(kGreen, x, y) = s.g * a + (1.0f - a) * scene.at(kGreen, x, y);
      drawn.at(kBlue, x, y) = s.b * a + (1.0f - a) * scene.at(kBlue, x, y);
      drawn.at(kDepth, x, y) = s.depth;
      drawn.at(kEmission, x, y) = s.emission;
      drawn.at(kRobot, x, y) = a;
      drawn.at(kReflectivity, x, y) = 0.0f;
    }
  return drawn;
}

TEST(CompositeRobot, BlendsOverTheBackdropWithItsEnvironment) {
  Image scene = backdrop(40, 30);
  Image robo(8, 12, 4);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 8; ++x) {
      robo.at(0, x, y) = 0.3f + 0.05f * float(x);
      robo.at(1, x, y) = 0.6f - 0.03f * float(y);
      robo.at(2, x, y) = 0.9f;
      robo.at(3, x, y) = x < 4 ? 0.5f : 1.0f;
    }
  const Image material = filled(3, 3, {0.1f, 0.2f, 0.3f, 0.6f});
  const Image emissive = filled(5, 5, {0.0f, 0.01f, 0.02f});
  const Image expected = drawn_by_recipe(scene, robo, material, emissive, 1);
  reference::composite_robot(scene, robo, material, emissive, 1);

  const FigureRect rect = figure_rect(40, 30, 8, 12);
  ASSERT_EQ(rect.height, 23);
  ASSERT_EQ(rect.width, 15);
  EXPECT_EQ(scene.data, expected.data);
  // Every pixel of the rectangle is covered; nothing outside it changes.
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool in = x >= rect.x0 && x < rect.x0 + rect.width && y >= rect.y0 && y < rect.y0 + rect.height;
      EXPECT_EQ(scene.at(kRobot, x, y) > 0.0f, in) << x << "," << y;
      EXPECT_EQ(scene.at(kDrop, x, y), 0.125f);
    }
}

// The environment is never made whole: its rows pass through a ring, and a
// pixel's two points are taken as their rows pass, in either order or in
// the same block of rows. On a scene many blocks high, with normals that
// send the points up and down and a nearer object in front of part of the
// figure, every plane ends as the recipe leaves it, at every thread count.
TEST(CompositeRobot, TakesItsPointsAsTheBlurredRowsPass) {
  Image robo(16, 24, 4);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 16; ++x) {
      robo.at(0, x, y) = float(x) / 15.0f;
      robo.at(1, x, y) = 1.0f - float(y) / 23.0f;
      robo.at(2, x, y) = 0.7f;
      robo.at(3, x, y) = (x + y) % 5 == 0 ? 0.0f : 0.25f + 0.05f * float(x % 4);
    }
  const Image material = filled(3, 3, {0.1f, 0.2f, 0.3f, 0.6f});
  const Image emissive = filled(5, 5, {0.0f, 0.01f, 0.02f});
  for (int aa : {1, 2}) {
    Image scene = backdrop(90, 200);
    for (int y = 100; y < 130; ++y)
      for (int x = 0; x < 30; ++x) scene.at(kDepth, x, y) = 2.0f;
    const Image expected = drawn_by_recipe(scene, robo, material, emissive, aa);
    for (int threads : {1, 2, 7}) {
      const test::Threads scope(threads);
      Image drawn = scene;
      reference::composite_robot(drawn, robo, material, emissive, aa);
      EXPECT_EQ(drawn.data, expected.data) << "AA " << aa << ", " << threads << " threads";
    }
  }
}

TEST(CompositeRobot, ZeroAlphaAndNearerOrEqualDepthKeepTheTarget) {
  Image scene = backdrop(40, 30);
  const FigureRect rect = figure_rect(40, 30, 2, 3);
  // The zero normal gives depth 3.2 everywhere: a tie on one pixel, a
  // slightly farther depth on its neighbour.
  const int tx = rect.x0 + 1, ty = rect.y0 + 3;
  scene.at(kDepth, tx, ty) = 3.2f;
  scene.at(kDepth, tx + 1, ty) = 3.2000003f;
  const Image original = scene;
  Image robo = filled(2, 3, {0.5f, 0.5f, 0.5f, 1.0f});
  for (int y = 0; y < 3; ++y) robo.at(3, 0, y) = 0.0f;  // left edge uncovered
  robo.at(3, 1, 2) = 0.0f;
  const Image material = filled(2, 2, {0.2f, 0.2f, 0.2f, 0.5f});
  reference::composite_robot(scene, robo, material, Image(2, 2, 3), 1);

  for (int c = 0; c < kSceneChannels; ++c) {
    EXPECT_EQ(scene.at(c, tx, ty), original.at(c, tx, ty)) << c;
    EXPECT_EQ(scene.at(c, rect.x0, ty), original.at(c, rect.x0, ty)) << c;  // alpha 0
    // The last column and row sample exactly the uncovered corner.
    const int cx = rect.x0 + rect.width - 1, cy = rect.y0 + rect.height - 1;
    EXPECT_EQ(scene.at(c, cx, cy), original.at(c, cx, cy)) << c;
  }
  EXPECT_EQ(scene.at(kRobot, rect.x0, ty), 0.0f);
  EXPECT_FLOAT_EQ(scene.at(kDepth, tx + 1, ty), 3.2f);
  EXPECT_GT(scene.at(kRobot, tx + 1, ty), 0.0f);
}

TEST(CompositeRobot, WideFigureIsClippedAtTheRightEdge) {
  // A robot image far wider than tall would run past the buffer.
  Image scene = backdrop(64, 36);
  const Image robo = filled(50, 1, {0.5f, 0.5f, 1.0f, 1.0f});
  const Image material = filled(2, 2, {0.1f, 0.1f, 0.1f, 0.5f});
  const FigureRect rect = figure_rect(64, 36, 50, 1);
  ASSERT_GT(rect.x0 + rect.width, 64);
  reference::composite_robot(scene, robo, material, Image(2, 2, 3), 2);
  for (int y = 0; y < 36; ++y) {
    const bool in_rows = y >= rect.y0 && y < rect.y0 + rect.height;
    EXPECT_EQ(scene.at(kRobot, 63, y), in_rows ? 1.0f : 0.0f) << y;
    EXPECT_EQ(scene.at(kRobot, rect.x0 - 1, y), 0.0f);
  }
}

TEST(CompositeRobot, TinyBuffersAndSingleRowFigures) {
  // A buffer one row high has no room for a figure (Hs = 0): no change.
  Image tiny = backdrop(3, 1);
  const Image untouched = tiny;
  const Image robo = filled(2, 2, {0.5f, 0.5f, 1.0f, 1.0f});
  reference::composite_robot(tiny, robo, robo, Image(1, 1, 3), 1);
  EXPECT_EQ(tiny.data, untouched.data);

  // Two rows: a figure of one pixel, sampled at u = v = 0.
  Image small = backdrop(6, 2);
  const FigureRect rect = figure_rect(6, 2, 2, 2);
  ASSERT_EQ(rect.height, 1);
  ASSERT_EQ(rect.width, 1);
  Image corner = filled(2, 2, {0.5f, 0.5f, 1.0f, 0.0f});
  corner.at(3, 0, 0) = 0.5f;
  reference::composite_robot(small, corner, robo, Image(1, 1, 3), 1);
  EXPECT_EQ(small.at(kRobot, 0, 0), 0.5f);
  EXPECT_EQ(small.at(kRobot, 1, 0), 0.0f);
  EXPECT_EQ(small.at(kRobot, 0, 1), 0.0f);
}

}  // namespace
}  // namespace neonvale
