#pragma once
// Sines of many floats at once, each exactly std::sin(float) of the C library
// this program runs with.
#include <cstddef>

namespace neonvale {

// out[i] = std::sin(x[i]) for i < n, bit for bit; `out` may be `x`.
//
// On processors where the C library takes its FMA variant of sinf, the
// arguments below 120 in magnitude go four at a time through the same
// double-precision steps (reduction by pi/2, the same polynomials, fused
// where it fuses, one rounding to float) and the rest through sinf itself. A
// check at first use compares the two on a spread of arguments and keeps to
// sinf alone if they ever differ, so another C library costs speed, never a
// bit.
void sines(const float* x, float* out, std::size_t n);

// Whether sines() takes the four-wide path on this machine (for tests and
// benchmarks).
bool sines_vectorised();

// The four-wide path alone, without the check; false where the processor
// lacks it. For the exhaustive comparison tool.
bool sines_four_wide(const float* x, float* out, std::size_t n);

}  // namespace neonvale
