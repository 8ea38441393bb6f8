// sine_check: compares the four-wide sines with the C library's sinf on all
// 2^32 float bit patterns and prints every argument where they differ. Run it
// after a change of C library or of src/core/sines.cpp; about 40 s of
// processor time, spread over the machine's cores.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/sines.hpp"

int main() {
  std::vector<float> probe(4);
  if (!neonvale::sines_four_wide(probe.data(), probe.data(), probe.size())) {
    std::printf("this processor has no four-wide path: sines() is sinf itself\n");
    return 0;
  }
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
        neonvale::sines_four_wide(x.data(), y.data(), kBlock);
        for (std::uint64_t i = 0; i < kBlock; ++i) {
          const float expected = std::sin(x[i]);
          if (std::memcmp(&expected, &y[i], sizeof expected) != 0) {
            ++differing;
            std::printf("%a: sinf %a, four-wide %a\n", double(x[i]), double(expected), double(y[i]));
          }
        }
      }
    });
  for (std::thread& w : workers) w.join();
  std::printf("%llu of 2^32 arguments differ\n", differing.load());
  return differing.load() == 0 ? 0 : 1;
}
