#include "core/sines.hpp"

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

TEST(Sines, AnyLengthAndInPlace) {
  for (std::size_t n : {0u, 1u, 3u, 4u, 5u, 257u}) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = float(i) * 0.731f - 90.0f;
    std::vector<float> expected(n);
    for (std::size_t i = 0; i < n; ++i) expected[i] = std::sin(x[i]);
    sines(x.data(), x.data(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(bits_of(x[i]), bits_of(expected[i])) << n << " " << i;
  }
}

}  // namespace
}  // namespace neonvale
