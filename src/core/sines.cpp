#include "core/sines.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define NEONVALE_SINES_X86 1
#endif

namespace neonvale {

namespace {

void scalar_sines(const float* x, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::sin(x[i]);
}

#ifdef NEONVALE_SINES_X86

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

__attribute__((target("avx2,fma"))) void four_wide_sines(const float* x, float* out, std::size_t n) {
  const __m128i large_top = _mm_set1_epi32(kLargeTop);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 y = _mm_loadu_ps(x + i);
    const __m128i top = _mm_and_si128(_mm_srli_epi32(_mm_castps_si128(y), 20), _mm_set1_epi32(0x7ff));
    const int large = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(top, large_top)));
    const __m128 value = sine4(y);
    if (large) {
      float lanes[4];
      _mm_storeu_ps(lanes, value);
      for (int k = 0; k < 4; ++k)
        if (large & (1 << k)) lanes[k] = std::sin(x[i + std::size_t(k)]);
      std::memcpy(out + i, lanes, sizeof lanes);
    } else {
      _mm_storeu_ps(out + i, value);
    }
  }
  scalar_sines(x + i, out + i, n - i);
}

// The C library picks its FMA variant of sinf where the processor has both
// FMA and AVX2; elsewhere its other variants may round differently.
bool has_four_wide() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

#else

bool has_four_wide() { return false; }
void four_wide_sines(const float*, float*, std::size_t) {}

#endif

// A spread of arguments over every path: tiny, both polynomials and both
// signs near each quarter turn, and past 120.
bool agrees_with_sinf() {
  constexpr int kProbes = 4096;
  float x[kProbes];
  for (int i = 0; i < kProbes; ++i) {
    const float t = float(i - kProbes / 2) / float(kProbes / 2);  // [-1, 1)
    x[i] = i % 4 == 0 ? t * 0.001f : i % 4 == 1 ? t * 130.0f : i % 4 == 2 ? t * 3.3f : t * 17.0f + 0.37f;
  }
  float fast[kProbes];
  four_wide_sines(x, fast, kProbes);
  for (int i = 0; i < kProbes; ++i) {
    const float slow = std::sin(x[i]);
    if (std::memcmp(&slow, &fast[i], sizeof slow) != 0) return false;
  }
  return true;
}

}  // namespace

bool sines_vectorised() {
  static const bool use = has_four_wide() && agrees_with_sinf();
  return use;
}

bool sines_four_wide(const float* x, float* out, std::size_t n) {
  if (!has_four_wide()) return false;
  four_wide_sines(x, out, n);
  return true;
}

void sines(const float* x, float* out, std::size_t n) {
  if (sines_vectorised())
    four_wide_sines(x, out, n);
  else
    scalar_sines(x, out, n);
}

}  // namespace neonvale
