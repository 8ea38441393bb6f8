#include "maths/scalar_math.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace neonvale {
namespace {

// The same bits as fmodf(x, 3), sign of zero included: a spread of every
// kind of float, every float around the edge of the short way and around
// some multiples of 3, and the special values.
TEST(ScalarMath, RemainderByThreeIsTheLibrarysBitForBit) {
  auto same = [](float x) {
    const float want = fmodf(x, 3.0f);
    const float got = remainder_of_3(x);
    if (std::isnan(want)) return std::isnan(got);
    return std::memcmp(&want, &got, sizeof want) == 0;
  };
  for (std::uint64_t bits = 0; bits < (std::uint64_t(1) << 32); bits += 997) {
    const std::uint32_t b = std::uint32_t(bits);
    float x;
    std::memcpy(&x, &b, sizeof x);
    ASSERT_TRUE(same(x)) << x;
  }
  for (float centre : {0.0f, 3.0f, 6.0f, 3.0f * 1024.0f, 3.0f * 5592405.0f, 16777216.0f}) {
    for (float sign : {1.0f, -1.0f}) {
      float x = sign * centre;
      for (int i = 0; i < 300; ++i) x = std::nextafter(x, -INFINITY * sign);
      for (int i = 0; i < 600; ++i, x = std::nextafter(x, INFINITY * sign)) ASSERT_TRUE(same(x)) << x;
    }
  }
  for (float x : {INFINITY, -INFINITY, NAN, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN}) EXPECT_TRUE(same(x)) << x;
}

TEST(ScalarMath, ExpOfNegativeIsTheLibrarysBitForBit) {
  // Every float from 100 to 110 (the threshold lies between), then a sweep
  // from 0 to beyond any distance the ground's lines give, and the special values.
  for (float x = 100.0f; x <= 110.0f; x = std::nextafter(x, 200.0f))
    ASSERT_EQ(exp_of_negative(x), expf(-x)) << x;
  for (float x = 0.0f; x < 40000.0f; x = x * 1.001f + 1e-3f) ASSERT_EQ(exp_of_negative(x), expf(-x)) << x;
  EXPECT_EQ(exp_of_negative(INFINITY), 0.0f);
  EXPECT_TRUE(std::isnan(exp_of_negative(NAN)));
}

TEST(ScalarMath, ThreeQuarterPowerIsThePowerInDoubleForEveryWeight) {
  // Every float the swirl's weight can take, and the ends.
  for (float x = 0.5f; x <= 1.0f; x = std::nextafter(x, 2.0f))
    ASSERT_EQ(three_quarter_power(x), float(std::pow(double(x), 0.75))) << x;
}

}  // namespace
}  // namespace neonvale
