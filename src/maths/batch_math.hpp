#pragma once
// Sines, logarithms and powers of many floats at once, each exactly what the
// C library this program runs with gives for one float.
//
// On processors where the C library takes its FMA variants of sinf, logf and
// powf (those with AVX2 and FMA), the common arguments go four at a time
// through the library's own double-precision steps (the same reductions,
// tables and polynomials, fused where it fuses, one rounding to float), and
// the rest through the library's functions themselves. A check at first use
// compares the two on a spread of arguments and keeps to the library alone
// if they ever differ, so another C library costs speed, never a bit. Where
// the steps come from, and under which licence, is said at the top of
// batch_math.cpp; tools/maths_check compares them with the library on every
// float.
#include <cstddef>

namespace neonvale {

// out[i] = std::sin(x[i]) for i < n, bit for bit; `out` may be `x`.
void sines(const float* x, float* out, std::size_t n);

// out[i] = std::log(x[i]) for i < n, bit for bit; `out` may be `x`.
void logs(const float* x, float* out, std::size_t n);

// out[i] = std::pow(x[i], y) for i < n, bit for bit; `out` may be `x`.
void powers(const float* x, float* out, std::size_t n, float y);

// Whether the four-wide paths are taken on this machine.
bool batch_math_vectorised();

// The check made at first use, against `sine`, `log` and `power` (there the
// C library's sinf, logf and powf): whether the four-wide paths give their
// bits on a spread of arguments over every path. False where the processor
// lacks the paths.
bool four_wide_agrees_with(float (*sine)(float), float (*log)(float), float (*power)(float, float));

// The batch functions for a given result of that check: the four-wide paths
// where the processor has them and `check_agreed`, else the C library's
// functions alone. sines, logs and powers above are those of the check made
// at first use.
class BatchMath {
 public:
  explicit BatchMath(bool check_agreed);
  bool vectorised() const { return vectorised_; }
  void sines(const float* x, float* out, std::size_t n) const;
  void logs(const float* x, float* out, std::size_t n) const;
  void powers(const float* x, float* out, std::size_t n, float y) const;

 private:
  bool vectorised_;
};

// The four-wide paths alone, without the check; false (and nothing written)
// where the processor lacks them. For the exhaustive comparison tool.
bool sines_four_wide(const float* x, float* out, std::size_t n);
bool logs_four_wide(const float* x, float* out, std::size_t n);
bool powers_four_wide(const float* x, float* out, std::size_t n, float y);

}  // namespace neonvale
