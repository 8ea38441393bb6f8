#pragma once
// Exact shortcuts for three C library calls that the passes make millions of
// times. Each gives the library's bits for every float argument; the way
// there is an argument about floats, not a copy of the library's code, and
// falls back on the library call itself wherever the argument does not hold.
// tools/maths_check compares each with the library on all 2^32 floats; the
// tests check a spread and the edges.

namespace neonvale {

// fmodf(x, 3.0f), sign of a zero included, without the library's general
// loop (the ground's grid lines are 3 apart).
float remainder_of_3(float x);

// expf(-x), without the library's slow way to the 0 that most arguments of
// the ground's line falloff get.
float exp_of_negative(float x);

// float(pow(double(x), 0.75)), the power taken in double and rounded once, as
// the sky's swirl weighs its red; without the cost of a general pow on
// nearly every call for x in [0.5, 1].
float three_quarter_power(float x);

}  // namespace neonvale
