#include "post/downsample.hpp"
#include "post/downsample_reference.hpp"
#include "post/tone_map.hpp"
#include "post/tone_map_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace neonvale {
namespace {

void expect_power_of_two_error(const Image& image, int factor) {
  try {
    reference::downsample(image, factor);
    ADD_FAILURE() << "factor " << factor << " was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Antialiased image not a power of 2");
  }
}

TEST(Downsample, FactorOneReturnsAnEqualCopy) {
  Image image(3, 2, 2);
  for (std::size_t i = 0; i < image.data.size(); ++i) image.data[i] = float(i) * 0.1f;
  const Image out = reference::downsample(image, 1);
  EXPECT_EQ(out.width, 3);
  EXPECT_EQ(out.height, 2);
  EXPECT_TRUE(out.data == image.data);
}

TEST(Downsample, AveragesTwoByTwoBlocks) {
  Image image(4, 2, 1);
  for (int i = 0; i < 8; ++i) image.data[std::size_t(i)] = float(i + 1);
  const Image out = reference::downsample(image, 2);
  ASSERT_EQ(out.width, 2);
  ASSERT_EQ(out.height, 1);
  EXPECT_EQ(out.data[0], 3.5f);
  EXPECT_EQ(out.data[1], 5.5f);
}

TEST(Downsample, FactorFourAveragesSixteenPerChannel) {
  Image image(8, 4, 2);
  std::fill(image.data.begin(), image.data.begin() + 32, 0.5f);
  std::fill(image.data.begin() + 32, image.data.end(), 1.0f);
  const Image out = reference::downsample(image, 4);
  ASSERT_EQ(out.width, 2);
  ASSERT_EQ(out.height, 1);
  ASSERT_EQ(out.channels, 2);
  EXPECT_EQ(out.at(0, 0, 0), 0.5f);
  EXPECT_EQ(out.at(0, 1, 0), 0.5f);
  EXPECT_EQ(out.at(1, 0, 0), 1.0f);
  EXPECT_EQ(out.at(1, 1, 0), 1.0f);
}

TEST(Downsample, OddSizeAtAnyHalvingFails) {
  expect_power_of_two_error(Image(6, 4, 3), 4);  // second halving meets width 3
  expect_power_of_two_error(Image(4, 5, 1), 2);
  expect_power_of_two_error(Image(5, 4, 1), 2);
}

TEST(Downsample, FactorsThatAreNotPowersOfTwoAreRejected) {
  expect_power_of_two_error(Image(12, 12, 1), 3);
  expect_power_of_two_error(Image(12, 12, 1), 6);
}

TEST(Downsample, FactorsBelowOneAreRejected) {
  EXPECT_THROW(reference::downsample(Image(4, 4, 1), 0), std::invalid_argument);
  EXPECT_THROW(reference::downsample(Image(0, 0, 3), 0), std::invalid_argument);
  EXPECT_THROW(reference::downsample(Image(4, 4, 1), -2), std::invalid_argument);
}

// The renderer maps and halves a band of rows at a time; the picture must be
// the one the two whole-image steps give, at every factor.
TEST(ToneMapAndDownsample, EqualsToneMapThenDownsample) {
  for (int factor : {1, 2, 4, 8}) {
    Image colour(24 * factor + (factor == 1 ? 3 : 0), 5 * factor, 3);
    for (std::size_t i = 0; i < colour.data.size(); ++i) colour.data[i] = float((i * 7919) % 1013) * 0.011f - 0.7f;
    const Image expected = reference::downsample(reference::tone_map(colour), factor);
    EXPECT_TRUE(tone_map_and_downsample(colour, factor).data == expected.data) << factor;
  }
}

}  // namespace
}  // namespace neonvale
