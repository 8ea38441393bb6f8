#include "core/random.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace neonvale {
namespace {

TEST(Random, MatchesPublishedCheckValue) {
  Random rng(5489);
  std::uint32_t value = 0;
  for (int i = 0; i < 10000; ++i) value = rng.next_u32();
  EXPECT_EQ(value, 4123659995u);
}

TEST(Random, DrawsAndSkipsAreThoseOfStdMt19937) {
  // Seeds at the edges of 32 bits, draws across several refills, and skips
  // that end inside and exactly at a refill.
  for (std::uint32_t seed : {0u, 1u, 147994u, 0x80000000u, 0xffffffffu}) {
    Random rng(seed);
    std::mt19937 reference(seed);
    for (unsigned long long skip : {0ull, 1ull, 623ull, 624ull, 1000ull, 2ull * 624 * 1000 + 5}) {
      rng.skip(skip);
      reference.discard(skip);
      for (int i = 0; i < 700; ++i) ASSERT_EQ(rng.next_u32(), std::uint32_t(reference())) << seed << " " << skip;
    }
  }
}

TEST(Random, DefaultSeedGivesTheFourPassSeeds) {
  Random rng(147994);
  EXPECT_EQ(rng.draw_seed(), 1383026975u);
  EXPECT_EQ(rng.draw_seed(), 2485691504u);
  EXPECT_EQ(rng.draw_seed(), 3141541847u);
  EXPECT_EQ(rng.draw_seed(), 1286516326u);
}

TEST(Random, UnitFloatScalesByTwoToMinus32) {
  EXPECT_EQ(Random::unit_float(0), 0.0f);
  EXPECT_EQ(Random::unit_float(2147483648u), 0.5f);
  EXPECT_EQ(Random::unit_float(4294967295u), 1.0f);
  EXPECT_EQ(Random::unit_float(4294967168u), 1.0f);       // the first value that rounds up to 2^32
  EXPECT_EQ(Random::unit_float(4294967167u), 0.99999994f);  // the last that does not
  EXPECT_EQ(Random::unit_float(1u), 2.3283064365386963e-10f);
}

TEST(Random, EachFloatConsumesOneDraw) {
  Random floats(77), raw(77);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(floats.next_float(), Random::unit_float(raw.next_u32()));
  floats.draw_seed();
  raw.next_u32();
  EXPECT_EQ(floats.next_u32(), raw.next_u32());
}

}  // namespace
}  // namespace neonvale
