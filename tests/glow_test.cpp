#include "post/glow.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/image_reference.hpp"
#include "passes/channels.hpp"
#include "post/glow_reference.hpp"

namespace neonvale {
namespace {

// A scene with one emissive pixel of colour (r, g, b) at (x, y).
Image lone_emitter(int w, int h, int x, int y, float emission) {
  Image scene(w, h, kSceneChannels);
  scene.at(kRed, x, y) = 1.0f;
  scene.at(kGreen, x, y) = 0.5f;
  scene.at(kBlue, x, y) = 0.25f;
  scene.at(kEmission, x, y) = emission;
  return scene;
}

// Checks the glow is colour * weight * 0.8 / (2R+1)^2 on the square of
// radius r around (cx, cy), zero elsewhere.
void expect_square(const Image& glow, int cx, int cy, int r, float weight) {
  const float area = float((2 * r + 1) * (2 * r + 1));
  const float colour[3] = {1.0f, 0.5f, 0.25f};
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < glow.height; ++y)
      for (int x = 0; x < glow.width; ++x) {
        const bool inside = std::abs(x - cx) <= r && std::abs(y - cy) <= r;
        const float expected = inside ? 0.8f * colour[c] * weight / area : 0.0f;
        ASSERT_NEAR(glow.at(c, x, y), expected, 1e-6) << c << " " << x << "," << y;
      }
}

TEST(Glow, NoEmissionNoGlow) {
  Image scene(12, 10, kSceneChannels);
  scene.at(kRed, 3, 3) = 9.0f;
  const Image glow = reference::make_glow(scene, 0.8f);
  ASSERT_EQ(glow.channels, 3);
  for (float v : glow.data) EXPECT_EQ(v, 0.0f);
}

TEST(Glow, LoneEmitterFillsItsSquare) {
  // 90 rows give radius 2.
  const Image glow = reference::make_glow(lone_emitter(20, 90, 10, 40, 3.0f), 0.8f);
  expect_square(glow, 10, 40, 2, 3.0f);
}

TEST(Glow, LowSceneUsesRadiusOne) {
  const Image glow = reference::make_glow(lone_emitter(20, 89, 10, 40, 2.0f), 0.8f);
  expect_square(glow, 10, 40, 1, 2.0f);
}

TEST(Glow, EmissionIsClampedToZeroToFive) {
  expect_square(reference::make_glow(lone_emitter(12, 12, 6, 6, 40.0f), 0.8f), 6, 6, 1, 5.0f);
  const Image dark = reference::make_glow(lone_emitter(12, 12, 6, 6, -2.0f), 0.8f);
  for (float v : dark.data) EXPECT_EQ(v, 0.0f);
}

TEST(WeightChannels, OneWeightPlaneWeighsEveryPlane) {
  Image target(2, 1, 3);
  for (float& v : target.data) v = 2.0f;
  Image weights(2, 1, 1);
  weights.at(0, 0, 0) = 0.5f;
  weights.at(0, 1, 0) = 9.0f;
  reference::weight_channels(target, weights);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(target.at(c, 0, 0), 1.0f);
    EXPECT_EQ(target.at(c, 1, 0), 10.0f);
  }
}

TEST(WeightChannels, SizeMismatchClearsTarget) {
  Image target(2, 2, 3);
  for (float& v : target.data) v = 1.0f;
  Image weights(2, 3, 1);
  for (float& v : weights.data) v = 1.0f;
  reference::weight_channels(target, weights);
  for (float v : target.data) EXPECT_EQ(v, 0.0f);
}

// The renderer adds the glow straight into the colour planes through a ring
// of rows; the colour must come out as colour + make_glow, bit for bit, for
// heights above and below the glow's window.
TEST(Glow, AddedInPlaceEqualsTheGlowImageAdded) {
  for (int height : {97, 230}) {
    Image scene(203, height, kSceneChannels);
    for (int c : {kRed, kGreen, kBlue, kEmission})
      for (std::size_t i = 0; i < scene.plane_size(); ++i)
        scene.plane(c)[i] = float((i * 31 + std::size_t(c) * 7) % 97) * 0.07f - 0.5f;
    Image expected(scene.width, scene.height, 3);
    reference::copy_channels(expected, scene);
    reference::add(expected, reference::make_glow(scene, 0.8f));
    add_glow(planes_of(scene), 0.8f);
    for (int c = 0; c < 3; ++c)
      for (std::size_t i = 0; i < scene.plane_size(); ++i)
        ASSERT_EQ(scene.plane(c)[i], expected.plane(c)[i]) << height << " " << c << " " << i;
  }
}

}  // namespace
}  // namespace neonvale
