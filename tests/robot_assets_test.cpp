// Checks of the shipped robot assets: the figure's shading relies on true unit
// normals, clean coverage and modest emitted light.
#include <gtest/gtest.h>

#include <cmath>

#include "io/png_io.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

std::filesystem::path asset(const char* name) { return test::source_dir() / "assets" / "01_neonvale" / name; }

float decoded_length(const Image& robo, int x, int y) {
  const float nx = 2.0f * robo.at(0, x, y) - 1.0f;
  const float ny = 2.0f * robo.at(1, x, y) - 1.0f;
  const float nz = 2.0f * robo.at(2, x, y) - 1.0f;
  return std::sqrt(nx * nx + ny * ny + nz * nz);
}

TEST(RobotAssets, NormalsAreUnitWhereverTheyCanBeSampled) {
  const Image robo = load_png(asset("robo.png"));
  ASSERT_EQ(robo.channels, 4);
  EXPECT_EQ(robo.width * 3, robo.height * 2);
  int covered = 0, partial = 0, outline = 0;
  for (int y = 0; y < robo.height; ++y)
    for (int x = 0; x < robo.width; ++x) {
      const float a = robo.at(3, x, y);
      bool near_figure = a > 0.0f;
      for (int dy = -1; dy <= 1 && !near_figure; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < robo.width && ny < robo.height && robo.at(3, nx, ny) > 0.0f)
            near_figure = true;
        }
      if (!near_figure) continue;
      covered += a > 0.0f;
      partial += a > 0.0f && a < 1.0f;
      outline += a == 0.0f;
      // Also just outside the outline, so that bilinear lookups across it
      // never blend in a zero or random normal.
      ASSERT_NEAR(decoded_length(robo, x, y), 1.0f, 1e-3f) << x << "," << y;
      ASSERT_GT(robo.at(2, x, y), 0.4999f) << x << "," << y;  // front surfaces face the viewer
    }
  EXPECT_GT(covered, robo.width * robo.height / 5);
  EXPECT_GT(partial, 1000);  // an antialiased outline
  EXPECT_GT(outline, 1000);
  // The figure keeps clear of the image border.
  for (int x = 0; x < robo.width; ++x) {
    EXPECT_EQ(robo.at(3, x, 0), 0.0f);
    EXPECT_EQ(robo.at(3, x, robo.height - 1), 0.0f);
  }
  for (int y = 0; y < robo.height; ++y) {
    EXPECT_EQ(robo.at(3, 0, y), 0.0f);
    EXPECT_EQ(robo.at(3, robo.width - 1, y), 0.0f);
  }
}

TEST(RobotAssets, MaterialAndGlowStayInRange) {
  const Image robo = load_png(asset("robo.png"));
  const Image material = load_png(asset("robo_material.png"));
  const Image emissive = load_png(asset("robo_emissive.png"));
  ASSERT_EQ(material.channels, 4);
  ASSERT_EQ(material.width, robo.width);
  ASSERT_EQ(material.height, robo.height);
  ASSERT_EQ(emissive.width, robo.width);
  ASSERT_EQ(emissive.height, robo.height);
  float brightest_base = 0.0f, lowest_reflect = 1.0f, highest_reflect = 0.0f, brightest_glow = 0.0f;
  for (int y = 0; y < robo.height; ++y)
    for (int x = 0; x < robo.width; ++x) {
      if (robo.at(3, x, y) == 0.0f) continue;
      for (int c = 0; c < 3; ++c) {
        brightest_base = std::fmax(brightest_base, material.at(c, x, y));
        brightest_glow = std::fmax(brightest_glow, emissive.at(c, x, y));
      }
      lowest_reflect = std::fmin(lowest_reflect, material.at(3, x, y));
      highest_reflect = std::fmax(highest_reflect, material.at(3, x, y));
    }
  EXPECT_LT(brightest_base, 0.5f);     // added twice: never a flat white body
  EXPECT_LT(lowest_reflect, 0.3f);     // dull joints
  EXPECT_GT(highest_reflect, 0.7f);    // glossy plates
  EXPECT_GT(brightest_glow, 0.03f);    // something glows...
  EXPECT_LT(brightest_glow, 0.15f);    // ...but 24 times this stays tasteful
}

}  // namespace
}  // namespace neonvale
