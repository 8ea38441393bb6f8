#pragma once
// The one parallel loop of the renderer. A pass says which indices (rows,
// column strips, bands) are independent; this helper decides how they are
// split. Every index is visited by exactly one call of the body, and the body
// computes each value with the same operations in the same order as a serial
// loop would, so the result never depends on the number of threads or the
// split. The loop knows nothing else: progress is counted by the code that
// knows a step's whole extent.
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

namespace neonvale {

// The threads a loop may use, the calling thread included: OMP_NUM_THREADS
// when it holds a positive number, else the processors this process may run
// on. Workers are started on the first loop that can use them; when the
// system refuses a thread (a process or address-space limit), the loops run
// on the threads that did start.
int thread_count();
// Sets the threads later loops may use (at least 1). Stops running workers
// beyond the new count; for the program's limits, tests and tools.
void set_thread_count(int threads);
// The stack of each worker, and of the program's other helper threads: loop
// bodies keep their data on the heap, and a small stack lets many threads
// start under an address-space limit.
std::size_t thread_stack_bytes();
// Starts a joinable thread with that stack, which takes no signal sent to the
// process (those go to the thread that runs the program). False when the
// system refuses it (a process or address-space limit); never throws.
bool start_helper_thread(pthread_t* thread, void* (*entry)(void*), void* argument);

namespace detail {
using RangeFunction = void (*)(void* body, int begin, int end);
void run_parallel(int count, int chunk, RangeFunction function, void* body);
bool inside_parallel_loop();
}  // namespace detail

// Calls body(begin, end) on disjoint, non-empty chunks that together cover
// [0, count), each at least `min_chunk` long except the last. A loop inside
// another loop's body runs serially on its thread.
template <class Body>
void parallel_for(int count, Body&& body, int min_chunk = 1) {
  if (count <= 0) return;
  using B = std::remove_reference_t<Body>;
  const int chunk = min_chunk > 1 ? min_chunk : 1;
  if (count <= chunk || thread_count() <= 1 || detail::inside_parallel_loop()) {
    body(0, count);
    return;
  }
  detail::run_parallel(
      count, chunk, [](void* b, int begin, int end) { (*static_cast<B*>(b))(begin, end); },
      const_cast<void*>(static_cast<const void*>(&body)));
}

// Rows per chunk so that a chunk holds enough samples to be worth a handover:
// short rows are taken several at a time, and a small image is not split.
inline int row_grain(std::int64_t samples_per_row) {
  constexpr std::int64_t kMinChunkSamples = 16384;
  if (samples_per_row >= kMinChunkSamples) return 1;
  if (samples_per_row < 1) samples_per_row = 1;
  return int((kMinChunkSamples + samples_per_row - 1) / samples_per_row);
}

// parallel_for over `rows` rows of `samples_per_row` samples each.
template <class Body>
void parallel_rows(int rows, std::int64_t samples_per_row, Body&& body) {
  parallel_for(rows, std::forward<Body>(body), row_grain(samples_per_row));
}

}  // namespace neonvale
