// Where the numbers below come from. The reductions, polynomial coefficients
// and tables are those of the GNU C Library's single-precision sinf, logf and
// powf (its generic code for them, which glibc 2.27 introduced as "optimized
// generic expf, exp2f, logf, log2f, powf, sinf, cosf and sincosf"), in the
// form glibc runs them on x86-64 processors with FMA and AVX2. They were
// transcribed from that code, not derived here, and are checked against the
// library this program runs with, Debian's glibc 2.36 (2.36-9+deb12u14 and
// 2.36-9+deb12u15, as `ldd --version` reports them), by tools/maths_check on
// every float.
//
// Licence: the GNU C Library is distributed under the GNU Lesser General
// Public License, version 2.1 or later; Debian's copyright file for it
// (/usr/share/doc/libc6/copyright) names no other licence for these
// routines. To our knowledge they reached glibc from Arm's optimized-routines
// project, which publishes them under a licence of its own; that was not
// checked here.

#include "maths/batch_math.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define NEONVALE_BATCH_X86 1
#endif

namespace neonvale {

namespace {

void scalar_sines(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::sin(x[i]);
}

void scalar_logs(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::log(x[i]);
}

void scalar_powers(const float* x, float* out, std::size_t n, float y) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::pow(x[i], y);
}

#ifdef NEONVALE_BATCH_X86

// The C library's sinf for |x| in [2^-12, 120): x in double, n the nearest
// quarter turn (x * 2^24 * 2/pi truncated, then rounded by adding half and
// shifting), r = x - n * pi/2 in one fused step, and a polynomial in r: the
// sine's for even n, the cosine's for odd n, negated when n & 2. Below 2^-12
// sinf returns x itself; from 120 on it reduces differently, and those
// lanes are handed to sinf.
constexpr double kQuarterTurnsScaled = 0x1.45f306dc9c883p+23;  // 2^24 * 2 / pi
constexpr double kQuarterTurn = 0x1.921fb54442d18p+0;          // pi / 2
constexpr double kS1 = -0x1.555545995a603p-3;
constexpr double kS2 = 0x1.1107605230bc4p-7;
constexpr double kS3 = -0x1.994eb3774cf24p-13;
constexpr double kC0 = 1.0;
constexpr double kC1 = -0x1.ffffffd0c621cp-2;
constexpr double kC2 = 0x1.55553e1068f19p-5;
constexpr double kC3 = -0x1.6c087e89a359dp-10;
constexpr double kC4 = 0x1.99343027bf8c3p-16;
// Exponent fields (the top 12 bits without the sign) that bound the path.
constexpr int kTinyTop = 0x397;  // |x| < 2^-12: sin x is x
constexpr int kLargeTop = 0x42e;  // |x| >= 120: sinf's own reduction

// The sine of four floats. Negating the polynomial's input (the library
// multiplies r by -1 when n & 2) or its coefficients (the library's second
// table) negates every fused and plain step exactly, so one polynomial of
// each kind and a sign flip of the rounded result give the same bits.
__attribute__((target("avx2,fma"))) __m128 sine4(__m128 y) {
  const __m128i bits = _mm_castps_si128(y);
  const __m128i top = _mm_and_si128(_mm_srli_epi32(bits, 20), _mm_set1_epi32(0x7ff));

  const __m256d x = _mm256_cvtps_pd(y);
  __m128i n = _mm256_cvttpd_epi32(_mm256_mul_pd(x, _mm256_set1_pd(kQuarterTurnsScaled)));
  n = _mm_srai_epi32(_mm_add_epi32(n, _mm_set1_epi32(0x800000)), 24);
  const __m256d r = _mm256_fnmadd_pd(_mm256_cvtepi32_pd(n), _mm256_set1_pd(kQuarterTurn), x);
  const __m256d r2 = _mm256_mul_pd(r, r);

  // Sine: (r + r^3 s1) + (s2 + r^2 s3) r^5.
  const __m256d r3 = _mm256_mul_pd(r2, r);
  const __m256d r5 = _mm256_mul_pd(r2, r3);
  const __m256d s_high = _mm256_fmadd_pd(r2, _mm256_set1_pd(kS3), _mm256_set1_pd(kS2));
  const __m256d s_low = _mm256_fmadd_pd(r3, _mm256_set1_pd(kS1), r);
  const __m256d sine = _mm256_fmadd_pd(s_high, r5, s_low);

  // Cosine: ((c0 + r^2 c1) + r^4 c2) + (c3 + r^2 c4) r^6.
  const __m256d r4 = _mm256_mul_pd(r2, r2);
  const __m256d r6 = _mm256_mul_pd(r2, r4);
  const __m256d c_low = _mm256_fmadd_pd(r2, _mm256_set1_pd(kC1), _mm256_set1_pd(kC0));
  const __m256d c_high = _mm256_fmadd_pd(r2, _mm256_set1_pd(kC4), _mm256_set1_pd(kC3));
  const __m256d c_mid = _mm256_fmadd_pd(r4, _mm256_set1_pd(kC2), c_low);
  const __m256d cosine = _mm256_fmadd_pd(c_high, r6, c_mid);

  const __m128i one = _mm_set1_epi32(1);
  const __m128i odd = _mm_cmpeq_epi32(_mm_and_si128(n, one), one);
  const __m256d odd_lanes = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(odd));
  const __m128 value = _mm256_cvtpd_ps(_mm256_blendv_pd(sine, cosine, odd_lanes));
  const __m128i flip = _mm_slli_epi32(_mm_and_si128(n, _mm_set1_epi32(2)), 30);  // n & 2 to the sign bit
  const __m128 result = _mm_xor_ps(value, _mm_castsi128_ps(flip));

  const __m128i tiny = _mm_cmplt_epi32(top, _mm_set1_epi32(kTinyTop + 1));
  return _mm_blendv_ps(result, y, _mm_castsi128_ps(tiny));
}

// Stores four results at `out`, taking the lanes set in `others` from the
// library's own function of x instead.
template <class Library>
__attribute__((target("avx2,fma"))) inline void store_four(__m128 value, int others, const float* x, float* out,
                                                            Library library) {
  if (!others) {
    _mm_storeu_ps(out, value);
    return;
  }
  float lanes[4];
  _mm_storeu_ps(lanes, value);
  for (int k = 0; k < 4; ++k)
    if (others & (1 << k)) lanes[k] = library(x[k]);
  std::memcpy(out, lanes, sizeof lanes);
}

__attribute__((target("avx2,fma"))) void four_wide_sines(const float* x, float* out, std::size_t n) {
  const __m128i large_top = _mm_set1_epi32(kLargeTop);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 y = _mm_loadu_ps(x + i);
    const __m128i top = _mm_and_si128(_mm_srli_epi32(_mm_castps_si128(y), 20), _mm_set1_epi32(0x7ff));
    const int large = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(top, large_top)));
    store_four(sine4(y), large, x + i, out + i, [](float v) { return std::sin(v); });
  }
  scalar_sines(x + i, out + i, n - i);
}

// The C library's powf for x a positive normal float, y finite and not 0,
// and |y log2 x| < 126: log2 x in double from a 16-entry table of 1/c and
// log2 c, c near x's mantissa, and a polynomial in r = z/c - 1; then
// 2^(y log2 x) from a 32-entry table of 2^(j/32) and a polynomial in what
// is left. +0 to a positive power is +0. Other lanes (zeros otherwise,
// subnormals, negatives, infinity, NaN, results near overflow or underflow)
// are handed to powf.
// Points c near the mantissa of x, for logf and powf: 1/c, log2 c and ln c.
struct LogEntry {
  double inverse, log2, ln;
};
constexpr LogEntry kLogTable[16] = {
    {0x1.661ec79f8f3bep+0, -0x1.efec65b963019p-2, -0x1.57bf7808caadep-2},
    {0x1.571ed4aaf883dp+0, -0x1.b0b6832d4fca4p-2, -0x1.2bef0a7c06ddbp-2},
    {0x1.49539f0f010b0p+0, -0x1.7418b0a1fb77bp-2, -0x1.01eae7f513a67p-2},
    {0x1.3c995b0b80385p+0, -0x1.39de91a6dcf7bp-2, -0x1.b31d8a68224e9p-3},
    {0x1.30d190c8864a5p+0, -0x1.01d9bf3f2b631p-2, -0x1.6574f0ac07758p-3},
    {0x1.25e227b0b8ea0p+0, -0x1.97c1d1b3b7af0p-3, -0x1.1aa2bc79c8100p-3},
    {0x1.1bb4a4a1a343fp+0, -0x1.2f9e393af3c9fp-3, -0x1.a4e76ce8c0e5ep-4},
    {0x1.12358f08ae5bap+0, -0x1.960cbbf788d5cp-4, -0x1.1973c5a611cccp-4},
    {0x1.0953f419900a7p+0, -0x1.a6f9db6475fcep-5, -0x1.252f438e10c1ep-5},
    {0x1.0000000000000p+0, 0.0, 0.0},
    {0x1.e608cfd9a47acp-1, 0x1.338ca9f24f53dp-4, 0x1.aa5aa5df25984p-5},
    {0x1.ca4b31f026aa0p-1, 0x1.476a9543891bap-3, 0x1.c5e53aa362eb4p-4},
    {0x1.b2036576afce6p-1, 0x1.e840b4ac4e4d2p-3, 0x1.526e57720db08p-3},
    {0x1.9c2d163a1aa2dp-1, 0x1.40645f0c6651cp-2, 0x1.bc2860d224770p-3},
    {0x1.886e6037841edp-1, 0x1.88e9c2c1b9ff8p-2, 0x1.1058bc8a07ee1p-2},
    {0x1.767dcf5534862p-1, 0x1.ce0a44eb17bccp-2, 0x1.4043057b6ee09p-2},
};
constexpr double kLog0 = 0x1.27616c9496e0bp-2;
constexpr double kLog1 = -0x1.71969a075c67ap-2;
constexpr double kLog2 = 0x1.ec70a6ca7baddp-2;
constexpr double kLog3 = -0x1.7154748bef6c8p-1;
constexpr double kLog4 = 0x1.71547652ab82bp+0;
// 2^(j/32) for j < 32 as bit patterns, less j << 47 (added back with the
// exponent).
alignas(32) constexpr long long kExp2Table[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};
constexpr double kExp2Shift = 0x1.8p+47;  // rounds to a multiple of 1/32
constexpr double kExp0 = 0x1.c6af84b912394p-5;
constexpr double kExp1 = 0x1.ebfce50fac4f3p-3;
constexpr double kExp2 = 0x1.62e42ff0c52d6p-1;

// x = 2^k z with z in [0.7, 1.4), c the table's point near z and
// r = z/c - 1, as logf and powf form them for a positive normal x.
struct MantissaSplit {
  __m256d k, r, log2_c, ln_c;
};
__attribute__((target("avx2,fma"))) inline MantissaSplit split_mantissa(__m128i ix) {
  const __m128i offset = _mm_sub_epi32(ix, _mm_set1_epi32(0x3f330000));
  alignas(16) int index[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_and_si128(_mm_srli_epi32(offset, 19), _mm_set1_epi32(15)));
  const __m128i top = _mm_and_si128(offset, _mm_set1_epi32(int(0xff800000u)));
  const __m256d z = _mm256_cvtps_pd(_mm_castsi128_ps(_mm_sub_epi32(ix, top)));
  // Plain loads: on some processors they are faster than a gather.
  const LogEntry& c0 = kLogTable[index[0]];
  const LogEntry& c1 = kLogTable[index[1]];
  const LogEntry& c2 = kLogTable[index[2]];
  const LogEntry& c3 = kLogTable[index[3]];
  MantissaSplit split;
  split.k = _mm256_cvtepi32_pd(_mm_srai_epi32(top, 23));
  const __m256d inverse = _mm256_set_pd(c3.inverse, c2.inverse, c1.inverse, c0.inverse);
  split.r = _mm256_fmadd_pd(z, inverse, _mm256_set1_pd(-1.0));
  split.log2_c = _mm256_set_pd(c3.log2, c2.log2, c1.log2, c0.log2);
  split.ln_c = _mm256_set_pd(c3.ln, c2.ln, c1.ln, c0.ln);
  return split;
}

// Lanes holding a positive normal float: ix - 2^23 below 0x7f000000, unsigned.
__attribute__((target("avx2,fma"))) inline __m128i positive_normal(__m128i ix) {
  const __m128i sign = _mm_set1_epi32(INT32_MIN);
  const __m128i shifted = _mm_xor_si128(_mm_sub_epi32(ix, _mm_set1_epi32(0x800000)), sign);
  return _mm_cmplt_epi32(shifted, _mm_xor_si128(_mm_set1_epi32(0x7f000000), sign));
}

// The C library's logf for a positive normal x other than 1: ln c + k ln 2
// from the table, and a polynomial in r. 1 gives +0; other lanes are handed
// to logf.
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr double kLn0 = -0x1.00ea348b88334p-2;
constexpr double kLn1 = 0x1.5575b0be00b6ap-2;
constexpr double kLn2Coefficient = -0x1.ffffef20a4123p-2;

__attribute__((target("avx2,fma"))) void four_wide_logs(const float* x, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 xs = _mm_loadu_ps(x + i);
    const __m128i ix = _mm_castps_si128(xs);
    const MantissaSplit split = split_mantissa(ix);
    const __m256d y0 = _mm256_fmadd_pd(split.k, _mm256_set1_pd(kLn2), split.ln_c);
    const __m256d r = split.r;
    const __m256d r2 = _mm256_mul_pd(r, r);
    __m256d y = _mm256_fmadd_pd(r, _mm256_set1_pd(kLn1), _mm256_set1_pd(kLn2Coefficient));
    y = _mm256_fmadd_pd(r2, _mm256_set1_pd(kLn0), y);
    const __m128 value = _mm256_cvtpd_ps(_mm256_fmadd_pd(r2, y, _mm256_add_pd(r, y0)));
    const __m128i one = _mm_cmpeq_epi32(ix, _mm_set1_epi32(0x3f800000));
    const __m128 result = _mm_andnot_ps(_mm_castsi128_ps(one), value);  // ln 1 = +0
    const int others = ~_mm_movemask_ps(_mm_castsi128_ps(positive_normal(ix))) & 15;
    store_four(result, others, x + i, out + i, [](float v) { return std::log(v); });
  }
  scalar_logs(x + i, out + i, n - i);
}

// x^y for four floats; lanes that need powf itself are set in `others`.
__attribute__((target("avx2,fma"))) __m128 power4(__m128 xs, __m256d y, bool positive_y, int* others) {
  const __m128i ix = _mm_castps_si128(xs);
  const __m128i normal = positive_normal(ix);

  const MantissaSplit split = split_mantissa(ix);
  const __m256d r = split.r;
  const __m256d y0 = _mm256_add_pd(split.k, split.log2_c);
  const __m256d p = _mm256_fmadd_pd(r, _mm256_set1_pd(kLog0), _mm256_set1_pd(kLog1));
  const __m256d q = _mm256_fmadd_pd(r, _mm256_set1_pd(kLog2), _mm256_set1_pd(kLog3));
  const __m256d r2 = _mm256_mul_pd(r, r);
  const __m256d y1 = _mm256_fmadd_pd(r, _mm256_set1_pd(kLog4), y0);
  const __m256d r4 = _mm256_mul_pd(r2, r2);
  const __m256d log_x = _mm256_fmadd_pd(p, r4, _mm256_fmadd_pd(r2, q, y1));
  const __m256d e = _mm256_mul_pd(y, log_x);

  // 2^e = 2^(m/32) 2^t with |t| <= 1/64.
  const __m256d rounded = _mm256_add_pd(e, _mm256_set1_pd(kExp2Shift));
  const __m256i m = _mm256_castpd_si256(rounded);
  const __m256d t = _mm256_sub_pd(e, _mm256_sub_pd(rounded, _mm256_set1_pd(kExp2Shift)));
  alignas(32) long long slot[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(slot), _mm256_and_si256(m, _mm256_set1_epi64x(31)));
  const __m256i entry =
      _mm256_set_epi64x(kExp2Table[slot[3]], kExp2Table[slot[2]], kExp2Table[slot[1]], kExp2Table[slot[0]]);
  const __m256d scale = _mm256_castsi256_pd(_mm256_add_epi64(entry, _mm256_slli_epi64(m, 47)));
  const __m256d low = _mm256_fmadd_pd(t, _mm256_set1_pd(kExp0), _mm256_set1_pd(kExp1));
  const __m256d high = _mm256_fmadd_pd(t, _mm256_set1_pd(kExp2), _mm256_set1_pd(1.0));
  const __m256d power = _mm256_mul_pd(_mm256_fmadd_pd(low, _mm256_mul_pd(t, t), high), scale);

  const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), e);
  const __m256d in_range = _mm256_cmp_pd(magnitude, _mm256_set1_pd(126.0), _CMP_LT_OQ);
  const int done = _mm_movemask_ps(_mm_castsi128_ps(normal)) & _mm256_movemask_pd(in_range);
  const __m128 result = _mm256_cvtpd_ps(power);
  if (!positive_y) {
    *others = ~done & 15;
    return result;
  }
  // +0 to a positive power is +0.
  const __m128i zero = _mm_cmpeq_epi32(ix, _mm_setzero_si128());
  *others = ~(done | _mm_movemask_ps(_mm_castsi128_ps(zero))) & 15;
  return _mm_andnot_ps(_mm_castsi128_ps(zero), result);
}

__attribute__((target("avx2,fma"))) void four_wide_powers(const float* x, float* out, std::size_t n, float y) {
  const __m256d yd = _mm256_set1_pd(double(y));
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    int others = 0;
    const __m128 value = power4(_mm_loadu_ps(x + i), yd, y > 0.0f, &others);
    store_four(value, others, x + i, out + i, [y](float v) { return std::pow(v, y); });
  }
  scalar_powers(x + i, out + i, n - i, y);
}

// The C library picks its FMA variants where the processor has both FMA and
// AVX2; elsewhere its other variants may round differently.
bool has_four_wide() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

#else

bool has_four_wide() { return false; }
void four_wide_sines(const float*, float*, std::size_t) {}
void four_wide_logs(const float*, float*, std::size_t) {}
void four_wide_powers(const float*, float*, std::size_t, float) {}

#endif

// powf's own handling of y = 0, infinite or NaN is left to it.
bool ordinary_exponent(float y) { return std::isfinite(y) && y != 0.0f; }

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// A spread of arguments over every path: for the sines tiny ones, both
// polynomials and both signs near each quarter turn, and past 120; for the
// powers zero, subnormals, (0, 1], beyond 1, and the exponents the picture
// uses.
bool four_wide_agrees_with(float (*sine)(float), float (*log)(float), float (*power)(float, float)) {
  if (!has_four_wide()) return false;
  constexpr int kProbes = 4096;
  float x[kProbes];
  float fast[kProbes];
  for (int i = 0; i < kProbes; ++i) {
    const float t = float(i - kProbes / 2) / float(kProbes / 2);  // [-1, 1)
    x[i] = i % 4 == 0 ? t * 0.001f : i % 4 == 1 ? t * 130.0f : i % 4 == 2 ? t * 3.3f : t * 17.0f + 0.37f;
  }
  four_wide_sines(x, fast, kProbes);
  for (int i = 0; i < kProbes; ++i)
    if (!same_bits(fast[i], sine(x[i]))) return false;

  for (int i = 0; i < kProbes; ++i) {
    const float t = float(i) / float(kProbes);  // [0, 1)
    x[i] = i % 4 == 0 ? t : i % 4 == 1 ? t * 1e-30f : i % 4 == 2 ? t * 1e-39f : t * 40.0f;
  }
  four_wide_logs(x, fast, kProbes);
  for (int i = 0; i < kProbes; ++i)
    if (!same_bits(fast[i], log(x[i]))) return false;
  for (float y : {1.0f / 2.2f, 1.2f, 0.7f, 2.7f, 7.0f, -1.5f}) {
    four_wide_powers(x, fast, kProbes, y);
    for (int i = 0; i < kProbes; ++i)
      if (!same_bits(fast[i], power(x[i], y))) return false;
  }
  return true;
}

namespace {

const BatchMath& checked_at_first_use() {
  static const BatchMath chosen(four_wide_agrees_with([](float v) { return std::sin(v); },
                                                      [](float v) { return std::log(v); },
                                                      [](float v, float y) { return std::pow(v, y); }));
  return chosen;
}

}  // namespace

bool batch_math_vectorised() { return checked_at_first_use().vectorised(); }

bool sines_four_wide(const float* x, float* out, std::size_t n) {
  if (!has_four_wide()) return false;
  four_wide_sines(x, out, n);
  return true;
}

bool logs_four_wide(const float* x, float* out, std::size_t n) {
  if (!has_four_wide()) return false;
  four_wide_logs(x, out, n);
  return true;
}

bool powers_four_wide(const float* x, float* out, std::size_t n, float y) {
  if (!has_four_wide()) return false;
  if (ordinary_exponent(y))
    four_wide_powers(x, out, n, y);
  else
    scalar_powers(x, out, n, y);
  return true;
}

BatchMath::BatchMath(bool check_agreed) : vectorised_(check_agreed && has_four_wide()) {}

void BatchMath::sines(const float* x, float* out, std::size_t n) const {
  if (vectorised_)
    four_wide_sines(x, out, n);
  else
    scalar_sines(x, out, n);
}

void BatchMath::logs(const float* x, float* out, std::size_t n) const {
  if (vectorised_)
    four_wide_logs(x, out, n);
  else
    scalar_logs(x, out, n);
}

void BatchMath::powers(const float* x, float* out, std::size_t n, float y) const {
  if (vectorised_ && ordinary_exponent(y))
    four_wide_powers(x, out, n, y);
  else
    scalar_powers(x, out, n, y);
}

void sines(const float* x, float* out, std::size_t n) { checked_at_first_use().sines(x, out, n); }

void logs(const float* x, float* out, std::size_t n) { checked_at_first_use().logs(x, out, n); }

void powers(const float* x, float* out, std::size_t n, float y) { checked_at_first_use().powers(x, out, n, y); }

}  // namespace neonvale
