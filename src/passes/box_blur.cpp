#include "passes/box_blur.hpp"

namespace neonvale {

// Not built yet.
void box_sum_row(const float*, float*, int, int) {}
void box_sum_columns(const float*, float*, int, int, int) {}
void add_row(const float* in, float* out, int n) {
  for (int i = 0; i < n; ++i) out[i] += in[i];
}
void subtract_row(const float* in, float* out, int n) {
  for (int i = 0; i < n; ++i) out[i] -= in[i];
}
Image box_blur(const Image& source, int) { return source; }

}  // namespace neonvale
