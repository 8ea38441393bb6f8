#include "image/image.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace neonvale {
namespace {

TEST(Image, NewImageIsZeroAndPlanar) {
  Image image(4, 3, 2);
  ASSERT_EQ(image.data.size(), 24u);
  for (float v : image.data) EXPECT_EQ(v, 0.0f);
  image.at(1, 2, 1) = 7.0f;
  EXPECT_EQ(image.data[18], 7.0f);
}

}  // namespace
}  // namespace neonvale
