// maths_check: compares every exact stand-in of src/maths with the C library
// call it replaces on all 2^32 float bit patterns, and prints every argument
// where they differ: the four-wide sines, logarithms and powers (the powers
// for each exponent the picture uses) with sinf, logf and powf, and
// remainder_of_3, exp_of_negative and three_quarter_power with fmodf(x, 3),
// expf(-x) and pow in double. Run it after a change of C library or of
// src/maths; about 40 s of processor time for each four-wide function and a
// few seconds for each scalar one, spread over the machine's cores. Exits 1
// when any argument differs.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "maths/batch_math.hpp"
#include "maths/scalar_math.hpp"

namespace {

using Batch = std::function<void(const float*, float*, std::size_t)>;
using Scalar = std::function<float(float)>;

// Runs `fast` over every float and compares with `slow`, NaNs by their bits
// too; returns how many differ.
unsigned long long differences(const char* name, const Batch& fast, const Scalar& slow) {
  constexpr std::uint64_t kBlock = std::uint64_t(1) << 16;
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<unsigned long long> differing{0};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      std::vector<float> x(kBlock), y(kBlock);
      for (std::uint64_t base = t * kBlock; base < (std::uint64_t(1) << 32); base += threads * kBlock) {
        for (std::uint64_t i = 0; i < kBlock; ++i) {
          const std::uint32_t bits = std::uint32_t(base + i);
          std::memcpy(&x[i], &bits, sizeof bits);
        }
        fast(x.data(), y.data(), kBlock);
        for (std::uint64_t i = 0; i < kBlock; ++i) {
          const float expected = slow(x[i]);
          if (std::memcmp(&expected, &y[i], sizeof expected) != 0 && differing++ < 20)
            std::printf("%s(%a): library %a, stand-in %a\n", name, double(x[i]), double(expected), double(y[i]));
        }
      }
    });
  for (std::thread& w : workers) w.join();
  std::printf("%s: %llu of 2^32 arguments differ\n", name, differing.load());
  return differing.load();
}

// A scalar stand-in as a batch of one call per float.
Batch each(float (*f)(float)) {
  return [f](const float* x, float* y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) y[i] = f(x[i]);
  };
}

}  // namespace

int main() {
  unsigned long long total = 0;
  total += differences("fmodf(x, 3)", each(neonvale::remainder_of_3), [](float x) { return fmodf(x, 3.0f); });
  total += differences("expf(-x)", each(neonvale::exp_of_negative), [](float x) { return expf(-x); });
  total += differences("pow(x, 0.75) in double", each(neonvale::three_quarter_power),
                       [](float x) { return float(std::pow(double(x), 0.75)); });

  float probe = 0.0f;
  if (!neonvale::sines_four_wide(&probe, &probe, 1)) {
    std::printf("this processor has no four-wide path: the batches are the library itself\n");
    return total == 0 ? 0 : 1;
  }
  total += differences(
      "sin", [](const float* x, float* y, std::size_t n) { neonvale::sines_four_wide(x, y, n); },
      [](float x) { return std::sin(x); });
  total += differences(
      "log", [](const float* x, float* y, std::size_t n) { neonvale::logs_four_wide(x, y, n); },
      [](float x) { return std::log(x); });
  for (float e : {1.0f / 2.2f, 1.2f, 7.0f, 4.0f}) {
    char name[32];
    std::snprintf(name, sizeof name, "pow(x, %a)", double(e));
    total += differences(
        name, [e](const float* x, float* y, std::size_t n) { neonvale::powers_four_wide(x, y, n, e); },
        [e](float x) { return std::pow(x, e); });
  }
  return total == 0 ? 0 : 1;
}
