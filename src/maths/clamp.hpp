#pragma once
// The one clamp of a float to [lo, hi], lo < hi. Where NaN lands depends on
// which comparison comes first, and that is part of the picture, so every
// caller names it: kHigh compares with the upper bound first (NaN becomes
// hi), kLow with the lower bound first (NaN becomes lo), kThrough lets NaN
// through. kHigh and kLow turn a -0 at a lower bound of +0 into +0; kThrough
// keeps it.
#include <algorithm>

namespace neonvale {

enum class NanGoes { kThrough, kLow, kHigh };

template <NanGoes kNan>
constexpr float clamp(float x, float lo, float hi) {
  if constexpr (kNan == NanGoes::kHigh) {
    const float c = x < hi ? x : hi;
    return c > lo ? c : lo;
  } else if constexpr (kNan == NanGoes::kLow) {
    const float c = x > lo ? x : lo;
    return c < hi ? c : hi;
  } else {
    return std::min(std::max(x, lo), hi);
  }
}

}  // namespace neonvale
