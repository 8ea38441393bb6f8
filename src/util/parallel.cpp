#include "util/parallel.hpp"

namespace neonvale {

LoopProgress& loop_progress() {
  static LoopProgress progress;
  return progress;
}

int thread_count() { return omp_get_max_threads(); }

}  // namespace neonvale
