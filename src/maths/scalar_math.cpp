#include "maths/scalar_math.hpp"

#include <cmath>

namespace neonvale {

float remainder_of_3(float x) {
  // The remainder of a float by 3 is itself a float, so any exact way to it
  // gives the library's bits. Below 2^24 a float lies at least 2^-24 of
  // itself from every multiple of 3 it is not, far more than the error of
  // the quotient x * (1/3) in double, so that quotient's whole part is the
  // true one; it and its product with 3 are exact in double, and so is the
  // difference. The sign is x's, a zero's too.
  if (!(std::fabs(x) < 16777216.0f)) return fmodf(x, 3.0f);
  const double d = double(x);
  const double whole = double(static_cast<long long>(d * (1.0 / 3.0)));
  return std::copysign(float(d - whole * 3.0), x);
}

float exp_of_negative(float x) {
  // expf(-x) is +0 from x = 103.98 up (below half the smallest float); the
  // library reaches that 0 by a slow path.
  return x > 104.0f ? 0.0f : expf(-x);
}

float three_quarter_power(float x) {
  // sqrt(x) * sqrt(sqrt(x)) in double is within 3.5 units in the last place
  // of x^0.75 (three roundings), and pow within 1. When every double within
  // 16 units of the product rounds to one float, that float is pow's too;
  // only near a rounding boundary between two floats (about one call in
  // 2^24) is pow itself asked.
  const double xd = double(x);
  if (xd >= 0.5 && xd <= 1.0) {
    const double root = std::sqrt(xd);
    const double y = root * std::sqrt(root);
    const double margin = 0x1p-49;  // 16 units of the last place below 1
    const float low = float(y - margin);
    if (low == float(y + margin)) return low;
  }
  return float(std::pow(xd, 0.75));
}

}  // namespace neonvale
