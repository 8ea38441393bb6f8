#include "core/batch_math.hpp"

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

// Every 1021st bit pattern (all signs and exponents, NaN and infinity among
// them), and a dense stretch around each quarter turn up to the change of
// reduction at 120, where a wrong quadrant or coefficient would show first.
std::vector<float> arguments() {
  std::vector<float> x;
  for (std::uint64_t b = 0; b < (std::uint64_t(1) << 32); b += 1021) x.push_back(float_of(std::uint32_t(b)));
  for (int k = -77; k <= 77; ++k) {
    const float centre = float(k) * 1.5707964f;
    std::uint32_t b = bits_of(centre);
    for (int i = 0; i < 2000; ++i) x.push_back(float_of(b - 1000 + std::uint32_t(i)));
  }
  for (float edge : {120.0f, -120.0f, 0x1p-12f, -0x1p-12f, 0.75f, 0.0f, -0.0f})
    for (int i = -50; i <= 50; ++i) x.push_back(float_of(bits_of(edge) + std::uint32_t(i)));
  return x;
}

TEST(Sines, EveryValueIsTheLibrarySineBitForBit) {
  const std::vector<float> x = arguments();
  std::vector<float> out(x.size());
  sines(x.data(), out.data(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    ASSERT_EQ(bits_of(out[i]), bits_of(std::sin(x[i]))) << std::hexfloat << x[i];
  // The four-wide path on its own, where the processor has it.
  if (sines_four_wide(x.data(), out.data(), x.size())) {
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_EQ(bits_of(out[i]), bits_of(std::sin(x[i]))) << std::hexfloat << x[i];
  }
}

// Every 4093rd bit pattern, and every float near 1 (where the result
// changes sign and the table's middle entry serves) and near the smallest
// normal.
TEST(Logs, EveryValueIsTheLibraryLogarithmBitForBit) {
  std::vector<float> x;
  for (std::uint64_t b = 0; b < (std::uint64_t(1) << 32); b += 4093) x.push_back(float_of(std::uint32_t(b)));
  for (float centre : {1.0f, 0x1p-126f})
    for (int i = -20000; i <= 20000; ++i) x.push_back(float_of(bits_of(centre) + std::uint32_t(i)));
  std::vector<float> out(x.size());
  logs(x.data(), out.data(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    ASSERT_EQ(bits_of(out[i]), bits_of(std::log(x[i]))) << std::hexfloat << x[i];
  if (logs_four_wide(x.data(), out.data(), x.size())) {
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_EQ(bits_of(out[i]), bits_of(std::log(x[i]))) << std::hexfloat << x[i];
  }
}

// Every 4093rd bit pattern, and all of [0, 1] near 0, 0.5 and 1, with
// the exponents the picture takes and a few that reach powf's own edges
// (negative, integer, tiny, huge results).
TEST(Powers, EveryValueIsTheLibraryPowerBitForBit) {
  std::vector<float> x;
  for (std::uint64_t b = 0; b < (std::uint64_t(1) << 32); b += 4093) x.push_back(float_of(std::uint32_t(b)));
  for (float centre : {0.0f, 0.5f, 1.0f})
    for (int i = -3000; i <= 3000; ++i) x.push_back(float_of(bits_of(centre) + std::uint32_t(i)));
  std::vector<float> out(x.size());
  for (float y : {1.0f / 2.2f, 1.2f, 0.7f, 2.7f, 7.0f, -1.5f, 3.0f, 0x1p-20f, 300.0f, 0.0f, -0.0f}) {
    powers(x.data(), out.data(), x.size(), y);
    for (std::size_t i = 0; i < x.size(); ++i)
      ASSERT_EQ(bits_of(out[i]), bits_of(std::pow(x[i], y))) << std::hexfloat << x[i] << " ^ " << y;
    if (powers_four_wide(x.data(), out.data(), x.size(), y)) {
      for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(bits_of(out[i]), bits_of(std::pow(x[i], y))) << std::hexfloat << x[i] << " ^ " << y;
    }
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
