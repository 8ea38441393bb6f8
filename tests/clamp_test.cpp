#include "maths/clamp.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace neonvale {
namespace {

TEST(Clamp, EachRuleSendsNaNWhereItSays) {
  EXPECT_EQ(clamp<NanGoes::kHigh>(NAN, 0.0f, 5.0f), 5.0f);
  EXPECT_EQ(clamp<NanGoes::kLow>(NAN, 0.0f, 5.0f), 0.0f);
  EXPECT_TRUE(std::isnan(clamp<NanGoes::kThrough>(NAN, 0.0f, 5.0f)));
}

TEST(Clamp, OnlyTheNaNPassingRuleKeepsANegativeZero) {
  EXPECT_FALSE(std::signbit(clamp<NanGoes::kHigh>(-0.0f, 0.0f, 1.0f)));
  EXPECT_FALSE(std::signbit(clamp<NanGoes::kLow>(-0.0f, 0.0f, 1.0f)));
  EXPECT_TRUE(std::signbit(clamp<NanGoes::kThrough>(-0.0f, 0.0f, 1.0f)));
}

TEST(Clamp, NumbersAgreeUnderEveryRule) {
  for (float x : {-INFINITY, -2.0f, 0.1f, 0.5f, 0.88f, 3.0f, INFINITY}) {
    const float want = x < 0.1f ? 0.1f : x > 0.88f ? 0.88f : x;
    EXPECT_EQ(clamp<NanGoes::kHigh>(x, 0.1f, 0.88f), want) << x;
    EXPECT_EQ(clamp<NanGoes::kLow>(x, 0.1f, 0.88f), want) << x;
    EXPECT_EQ(clamp<NanGoes::kThrough>(x, 0.1f, 0.88f), want) << x;
  }
}

}  // namespace
}  // namespace neonvale
