#include "maths/batch_math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace neonvale {
namespace {

std::uint32_t bits_of(float x) {
  std::uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

float float_of(std::uint32_t b) {
  float x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// Every `step`th bit pattern: all signs and exponents, NaN and infinity
// among them.
std::vector<float> every_nth_pattern(std::uint32_t step) {
  std::vector<float> x;
  for (std::uint64_t b = 0; b < (std::uint64_t(1) << 32); b += step) x.push_back(float_of(std::uint32_t(b)));
  return x;
}

// The `count` floats on either side of `centre`, bit pattern by bit pattern.
void add_around(std::vector<float>& x, float centre, int count) {
  for (int i = -count; i <= count; ++i) x.push_back(float_of(bits_of(centre) + std::uint32_t(i)));
}

// The batch function, and then its four-wide path on its own where the
// processor has it, give `library`'s bits for every argument.
template <class Batch, class FourWide, class Library>
::testing::AssertionResult same_as_library(const std::vector<float>& x, Batch batch, FourWide four_wide,
                                           Library library) {
  std::vector<float> out(x.size());
  batch(x.data(), out.data(), x.size());
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < x.size(); ++i)
      if (bits_of(out[i]) != bits_of(library(x[i])))
        return ::testing::AssertionFailure() << std::hexfloat << "argument " << x[i] << ": " << out[i] << " against "
                                             << library(x[i]) << (pass ? " (four-wide)" : "");
    if (pass == 0 && !four_wide(x.data(), out.data(), x.size())) break;
  }
  return ::testing::AssertionSuccess();
}

// Every 1021st bit pattern, and a dense stretch around each quarter turn up
// to the change of reduction at 120, where a wrong quadrant or coefficient
// would show first.
TEST(Sines, EveryValueIsTheLibrarySineBitForBit) {
  std::vector<float> x = every_nth_pattern(1021);
  for (int k = -77; k <= 77; ++k) add_around(x, float(k) * 1.5707964f, 1000);
  for (float edge : {120.0f, -120.0f, 0x1p-12f, -0x1p-12f, 0.75f, 0.0f, -0.0f}) add_around(x, edge, 50);
  EXPECT_TRUE(same_as_library(x, sines, sines_four_wide, [](float v) { return std::sin(v); }));
}

// Every 4093rd bit pattern, and every float near 1 (where the result
// changes sign and the table's middle entry serves) and near the smallest
// normal.
TEST(Logs, EveryValueIsTheLibraryLogarithmBitForBit) {
  std::vector<float> x = every_nth_pattern(4093);
  for (float centre : {1.0f, 0x1p-126f}) add_around(x, centre, 20000);
  EXPECT_TRUE(same_as_library(x, logs, logs_four_wide, [](float v) { return std::log(v); }));
}

// Every 4093rd bit pattern, and all of [0, 1] near 0, 0.5 and 1, with
// the exponents the picture takes and a few that reach powf's own edges
// (negative, integer, tiny, huge results).
TEST(Powers, EveryValueIsTheLibraryPowerBitForBit) {
  std::vector<float> x = every_nth_pattern(4093);
  for (float centre : {0.0f, 0.5f, 1.0f}) add_around(x, centre, 3000);
  for (float y : {1.0f / 2.2f, 1.2f, 0.7f, 2.7f, 7.0f, -1.5f, 3.0f, 0x1p-20f, 300.0f, 0.0f, -0.0f}) {
    EXPECT_TRUE(same_as_library(
        x, [y](const float* in, float* out, std::size_t n) { powers(in, out, n, y); },
        [y](const float* in, float* out, std::size_t n) { return powers_four_wide(in, out, n, y); },
        [y](float v) { return std::pow(v, y); }))
        << "exponent " << y;
  }
}

// The check at first use must notice a C library that rounds one of the
// three functions differently, over the arguments the picture takes most.
TEST(BatchMath, CheckNoticesALibraryThatDiffersInAnyFunction) {
  float (*const sine)(float) = [](float v) { return std::sin(v); };
  float (*const log)(float) = [](float v) { return std::log(v); };
  float (*const power)(float, float) = [](float v, float y) { return std::pow(v, y); };
  float (*const other_sine)(float) = [](float v) {
    return v > 1.0f && v < 2.0f ? std::nextafter(std::sin(v), 2.0f) : std::sin(v);
  };
  float (*const other_log)(float) = [](float v) {
    return v > 0.5f && v < 1.0f ? std::nextafter(std::log(v), 0.0f) : std::log(v);
  };
  float (*const other_power)(float, float) = [](float v, float y) {
    return v > 0.25f && v < 0.5f ? std::nextafter(std::pow(v, y), 2.0f) : std::pow(v, y);
  };
  EXPECT_EQ(four_wide_agrees_with(sine, log, power), batch_math_vectorised());
  EXPECT_FALSE(four_wide_agrees_with(other_sine, log, power));
  EXPECT_FALSE(four_wide_agrees_with(sine, other_log, power));
  EXPECT_FALSE(four_wide_agrees_with(sine, log, other_power));
}

// When the check disagrees the batch functions are the library's own, on
// every argument and exponent. Where the four-wide paths agree, as here,
// this way runs only in this test; on other processors it is the only one.
TEST(BatchMath, DisagreeingCheckLeavesTheLibrarysFunctions) {
  const BatchMath fallback(false);
  EXPECT_FALSE(fallback.vectorised());
  float probe = 1.0f;
  EXPECT_EQ(BatchMath(true).vectorised(), sines_four_wide(&probe, &probe, 1));

  std::vector<float> x = every_nth_pattern(8191);
  for (float centre : {0.0f, 1.0f, 1.5707964f, 120.0f}) add_around(x, centre, 100);
  const auto no_four_wide = [](const float*, float*, std::size_t) { return false; };
  EXPECT_TRUE(same_as_library(
      x, [&](const float* in, float* out, std::size_t n) { fallback.sines(in, out, n); }, no_four_wide,
      [](float v) { return std::sin(v); }));
  EXPECT_TRUE(same_as_library(
      x, [&](const float* in, float* out, std::size_t n) { fallback.logs(in, out, n); }, no_four_wide,
      [](float v) { return std::log(v); }));
  for (float y : {1.0f / 2.2f, -1.5f, 0.0f, 300.0f}) {
    EXPECT_TRUE(same_as_library(
        x, [&](const float* in, float* out, std::size_t n) { fallback.powers(in, out, n, y); }, no_four_wide,
        [y](float v) { return std::pow(v, y); }))
        << "exponent " << y;
  }
}

TEST(BatchMath, AnyLengthAndInPlace) {
  for (std::size_t n : {0u, 1u, 3u, 4u, 5u, 257u}) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = float(i) * 0.731f - 90.0f;
    std::vector<float> expected(n);
    for (std::size_t i = 0; i < n; ++i) expected[i] = std::sin(x[i]);
    sines(x.data(), x.data(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(bits_of(x[i]), bits_of(expected[i])) << n << " " << i;
    for (std::size_t i = 0; i < n; ++i) x[i] = float(i) / 257.0f;
    for (std::size_t i = 0; i < n; ++i) expected[i] = std::pow(x[i], 1.2f);
    powers(x.data(), x.data(), n, 1.2f);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(bits_of(x[i]), bits_of(expected[i])) << n << " " << i;
  }
}

}  // namespace
}  // namespace neonvale
