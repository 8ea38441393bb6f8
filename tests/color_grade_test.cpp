#include "post/color_grade.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "assets.hpp"
#include "grader_assets.hpp"
#include "io/png_io.hpp"
#include "png16.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

// The graded copy of an image.
Image graded(const Image& image, const Image& grader) {
  Image out(image);
  apply_color_grader(out, grader);
  return out;
}

std::string grading_error(const Image& image, const Image& grader) {
  try {
    graded(image, grader);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "no error";
}

TEST(ColorGrader, IdentityCubeLeavesColoursUnchanged) {
  const Image grader = assets::identity_color_grader(17);
  Image image(7, 5, 3);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      image.at(0, x, y) = float(x) / 6.0f;
      image.at(1, x, y) = float(y) / 4.0f;
      image.at(2, x, y) = float((x * 3 + y * 5) % 13) / 12.0f;
    }
  const Image out = graded(image, grader);
  ASSERT_EQ(out.width, 7);
  ASSERT_EQ(out.height, 5);
  ASSERT_EQ(out.channels, 3);
  for (std::size_t i = 0; i < out.data.size(); ++i) EXPECT_NEAR(out.data[i], image.data[i], 2e-6f);
}

TEST(ColorGrader, RedEndsUseOneSliceAlone) {
  // Each slice holds its own constant, so any mixing of slices shows.
  const int s = 4;
  Image grader(s, s * s, 3);
  for (int y = 0; y < s * s; ++y)
    for (int x = 0; x < s; ++x)
      for (int k = 0; k < 3; ++k) grader.at(k, x, y) = float(y / s) * 10.0f + float(k);
  const auto low = sample_color_grader(0.0f, 1.0f, 0.3f, grader);
  const auto high = sample_color_grader(1.0f, 1.0f, 0.3f, grader);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(low[std::size_t(k)], float(k));
    EXPECT_EQ(high[std::size_t(k)], 30.0f + float(k));
  }
  // Halfway between slices 1 and 2.
  EXPECT_NEAR(sample_color_grader(0.5f, 0.0f, 0.0f, grader)[0], 15.0f, 1e-5f);
  // Green at 1 stays in the last row of its slice rather than reading the next.
  EXPECT_EQ(sample_color_grader(1.0f / 3.0f, 1.0f, 1.0f, grader)[0], 10.0f);
}

TEST(ColorGrader, RejectsMalformedInputInOrder) {
  const Image rgb(2, 2, 3);
  EXPECT_NO_THROW(graded(rgb, Image(16, 256, 3)));
  EXPECT_EQ(grading_error(rgb, Image(16, 255, 3)), "invalid color grader dimensions");
  EXPECT_EQ(grading_error(rgb, Image(4, 16, 2)), "invalid grader channel count");
  EXPECT_EQ(grading_error(Image(2, 2, 4), Image(4, 16, 3)), "invalid image channel count");
  // The first failing check wins.
  EXPECT_EQ(grading_error(Image(2, 2, 4), Image(4, 15, 2)), "invalid color grader dimensions");
  EXPECT_EQ(grading_error(Image(2, 2, 1), Image(4, 16, 2)), "invalid grader channel count");
  // An empty cube has nothing to look up.
  EXPECT_EQ(grading_error(rgb, Image(0, 0, 3)), "invalid color grader dimensions");
  // A four-channel grader is fine: the fourth channel is ignored.
  EXPECT_NO_THROW(graded(rgb, Image(4, 16, 4)));
}

TEST(ColorGrader, OneByOneCubeMapsEverythingToItsSample) {
  Image grader(1, 1, 3);
  grader.at(0, 0, 0) = 0.25f;
  grader.at(1, 0, 0) = 0.5f;
  grader.at(2, 0, 0) = 0.75f;
  for (float v : {0.0f, 0.3f, 1.0f}) {
    const auto c = sample_color_grader(v, 1.0f - v, v * 0.5f, grader);
    EXPECT_EQ(c[0], 0.25f);
    EXPECT_EQ(c[1], 0.5f);
    EXPECT_EQ(c[2], 0.75f);
  }
}

TEST(ColorGraderAsset, SixteenBitCubeSurvivesSaving) {
  test::TempDir dir;
  const auto path = dir.path() / "cube.png";
  assets::save_png16(assets::identity_color_grader(9), path);
  const Image loaded = load_png(path);
  for (float r : {0.0f, 0.2f, 0.55f, 1.0f})
    for (float g : {0.0f, 0.7f, 1.0f})
      for (float b : {0.1f, 0.9f}) {
        const auto c = sample_color_grader(r, g, b, loaded);
        EXPECT_NEAR(c[0], r, 1e-5f);
        EXPECT_NEAR(c[1], g, 1e-5f);
        EXPECT_NEAR(c[2], b, 1e-5f);
      }
}

TEST(ColorGraderAsset, ShippedCubeIsASubtleNightLook) {
  const Image grader = load_png(test::source_dir() / "assets" / "01_neonvale" / "color_grader.png");
  ASSERT_EQ(grader.width, assets::kGraderSide);
  ASSERT_EQ(grader.height, assets::kGraderSide * assets::kGraderSide);
  // Mid grey stays where it is; black turns a deep teal without lifting much.
  for (float v : sample_color_grader(0.5f, 0.5f, 0.5f, grader)) EXPECT_NEAR(v, 0.5f, 0.003f);
  const auto black = sample_color_grader(0.0f, 0.0f, 0.0f, grader);
  EXPECT_LT(black[0], black[1]);
  EXPECT_LT(black[1], black[2]);
  EXPECT_LT(black[2], 0.03f);
  // Bright neutrals warm up.
  const auto light = sample_color_grader(0.85f, 0.85f, 0.85f, grader);
  EXPECT_GT(light[0], light[2]);
  // The neon magenta and azure keep their colour.
  const float neons[2][3] = {{1.0f, 0.05f, 0.95f}, {0.1f, 0.5f, 1.0f}};
  for (const auto& n : neons) {
    const auto c = sample_color_grader(n[0], n[1], n[2], grader);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[std::size_t(k)], n[k], 0.03f);
  }
  // Every lattice point is the look itself, to 16-bit precision.
  const Image expected = assets::night_color_grader(assets::kGraderSide);
  for (std::size_t i = 0; i < expected.data.size(); ++i) ASSERT_NEAR(grader.data[i], expected.data[i], 1e-5f);
}

}  // namespace
}  // namespace neonvale
