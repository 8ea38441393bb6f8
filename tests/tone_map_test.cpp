#include "post/tone_map.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "test_support.hpp"

#include "post/tone_map_reference.hpp"

namespace neonvale {
namespace {

Image grey(float level) {
  Image image(4, 3, 3);
  std::fill(image.data.begin(), image.data.end(), level);
  return image;
}

TEST(ToneMap, UniformGreyLandsOnTheKeyAtAnyLevel) {
  for (float level : {0.1f, 1.0f, 10.0f, 100.0f}) {
    const Image out = reference::tone_map(grey(level));
    ASSERT_EQ(out.channels, 3);
    for (float v : out.data) EXPECT_NEAR(v, 0.389f, 0.001f) << level;
  }
}

TEST(ToneMap, BlackStaysBlack) {
  const Image out = reference::tone_map(grey(0.0f));
  for (float v : out.data) EXPECT_EQ(v, 0.0f);
}

TEST(ToneMap, NegativeSamplesCountAsZero) {
  Image with_negatives = grey(0.5f);
  Image with_zeros = grey(0.5f);
  with_negatives.at(0, 1, 1) = -3.0f;
  with_negatives.at(2, 3, 0) = -0.1f;
  with_zeros.at(0, 1, 1) = 0.0f;
  with_zeros.at(2, 3, 0) = 0.0f;
  EXPECT_TRUE(reference::tone_map(with_negatives).data == reference::tone_map(with_zeros).data);
}

TEST(ToneMap, BrightRedClipsButBrightGreyDoesNot) {
  Image image = grey(0.05f);
  image.at(0, 0, 0) = 50.0f;  // pure red: counts with weight 0.2126 only
  image.at(1, 0, 0) = 0.0f;
  image.at(2, 0, 0) = 0.0f;
  for (int c = 0; c < 3; ++c) image.at(c, 1, 0) = 50.0f;
  const Image out = reference::tone_map(image);
  EXPECT_EQ(out.at(0, 0, 0), 1.0f);
  EXPECT_EQ(out.at(1, 0, 0), 0.0f);
  EXPECT_LT(out.at(0, 1, 0), 1.0f);
  EXPECT_GT(out.at(0, 1, 0), 0.99f);
  for (float v : out.data) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
}

TEST(ToneMap, ExtraChannelsAreDroppedAndEmptyStaysEmpty) {
  Image four(2, 2, 4);
  std::fill(four.data.begin(), four.data.end(), 1.0f);
  EXPECT_EQ(reference::tone_map(four).channels, 3);
  const Image empty = reference::tone_map(Image(0, 4, 3));
  EXPECT_EQ(empty.height, 4);
  EXPECT_TRUE(empty.data.empty());
}

// A run may be mapped over its own samples; it must give the bits of a
// mapping into a new image.
TEST(ToneMap, RunOverItsInputGivesTheSameBits) {
  Image colour(131, 77, 3);
  for (std::size_t i = 0; i < colour.data.size(); ++i) colour.data[i] = float((i * 7919) % 1000) * 0.013f - 1.0f;
  const Image mapped = reference::tone_map(colour);
  const float exposure = tone_map_exposure(colour);
  tone_map_run(exposure, colour.plane(0), colour.plane(1), colour.plane(2), colour.plane(0), colour.plane(1),
               colour.plane(2), colour.plane_size());
  EXPECT_TRUE(colour.data == mapped.data);
}

// The exposure's logarithms are taken a band of rows at a time while the
// previous band's are added: with several bands, a band added twice, left
// out, cut short or read from the buffer being refilled changes the sum.
// Every band here has its own brightness, and the sum must be that of a
// plain serial loop in double over all samples in storage order.
TEST(ToneMap, ExposureOfManyBandsIsThePlainSerialSum) {
  struct Size {
    int w, h;
  };
  // One more row than a band; exactly two bands; three, the last one short.
  for (const Size size : {Size{37, 129}, Size{37, 256}, Size{64, 300}}) {
    Image colour(size.w, size.h, 3);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < size.h; ++y)
        for (int x = 0; x < size.w; ++x) {
          const float level = std::exp2(float(y % 23) - 8.0f);
          colour.at(c, x, y) = level * float((x * 7 + y * 3 + c * 5) % 11) * 0.1f - (x == y ? 0.5f : 0.0f);
        }
    double sum = 0.0;
    for (std::size_t i = 0; i < colour.plane_size(); ++i) {
      const float r = std::max(0.0f, colour.plane(0)[i]);
      const float g = std::max(0.0f, colour.plane(1)[i]);
      const float b = std::max(0.0f, colour.plane(2)[i]);
      sum += double(std::log(((g * 0.7152f + r * 0.2126f) + b * 0.0722f) + 0.0001f));
    }
    const float expected = 0.18f / float(std::exp(sum / double(colour.plane_size())));
    for (int threads : {1, 2, 3}) {
      test::Threads use(threads);
      EXPECT_EQ(tone_map_exposure(colour), expected)
          << size.w << " x " << size.h << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace neonvale
