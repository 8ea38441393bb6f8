#pragma once
// Random: the seeded generator behind every random decision of the picture.
// One draw is one 32-bit output of MT19937, whether used as a float or a seed,
// so the number and order of draws is part of the picture.
//
// The engine is the standard library's Mersenne twister with MT19937's
// parameters, exactly std::mt19937's, held in 32-bit words: std::mt19937 keeps
// its 624 words as uint_fast32_t, 64 bits here, and refills them several
// times slower. The draws are the same bits (a test holds them to
// std::mt19937's); the ground skips tens of millions of them.
#include <cstdint>
#include <random>

namespace neonvale {

class Random {
 public:
  // The standard MT19937 seeding; a negative int seed passes its two's-complement bits.
  explicit Random(std::uint32_t seed) : engine_(seed) {}

  std::uint32_t next_u32() { return static_cast<std::uint32_t>(engine_()); }

  float next_float() { return unit_float(next_u32()); }

  std::uint32_t draw_seed() { return next_u32(); }

  // Consumes n draws whose values are not needed.
  void skip(unsigned long long n) { engine_.discard(n); }

  // float(x) * 2^-32, in [0, 1]: x rounds to the nearest float first, so raw
  // values from 4294967168 up give exactly 1.0. Nothing clamps that.
  static float unit_float(std::uint32_t raw) {
    const float x = static_cast<float>(raw);
    return (kUpper - kLower) * (x * 2.3283064365386963e-10f) + kLower;  // 2^-32 exactly
  }

 private:
  static constexpr float kLower = 0.0f;
  static constexpr float kUpper = 1.0f;
  using Engine = std::mersenne_twister_engine<std::uint32_t, 32, 624, 397, 31, 0x9908b0dfu, 11, 0xffffffffu, 7,
                                              0x9d2c5680u, 15, 0xefc60000u, 18, 1812433253u>;
  Engine engine_;
};

}  // namespace neonvale
