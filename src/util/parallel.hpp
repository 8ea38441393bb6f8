#pragma once
// The one parallel loop of the renderer. A pass says which rows (or columns,
// or bands) are independent; this helper decides how they are split. Every
// index is visited by exactly one call of the body, and the body computes each
// value with the same operations in the same order as a serial loop would, so
// the result never depends on the number of threads or the split.
#include <omp.h>

#include <algorithm>
#include <atomic>

namespace neonvale {

// Progress of the loop running now, for a display on another thread.
struct LoopProgress {
  std::atomic<long long> done{0};
  std::atomic<long long> total{0};
};
LoopProgress& loop_progress();

int thread_count();

// Calls body(begin, end) on disjoint chunks that together cover [0, count).
template <class Body>
void parallel_for(int count, Body&& body) {
  if (count <= 0) return;
  LoopProgress& progress = loop_progress();
  progress.total.store(count, std::memory_order_relaxed);
  progress.done.store(0, std::memory_order_relaxed);
  const int threads = omp_get_max_threads();
  if (threads <= 1 || count == 1) {
    body(0, count);
    progress.done.store(count, std::memory_order_relaxed);
    return;
  }
  // Several chunks per thread so uneven rows (sky above, ground below) balance.
  const int chunk = std::max(1, count / (threads * 16));
  const int chunks = (count + chunk - 1) / chunk;
#pragma omp parallel for schedule(dynamic, 1)
  for (int i = 0; i < chunks; ++i) {
    const int begin = i * chunk;
    const int end = std::min(count, begin + chunk);
    body(begin, end);
    progress.done.fetch_add(end - begin, std::memory_order_relaxed);
  }
}

}  // namespace neonvale
