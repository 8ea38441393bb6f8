#pragma once
// Runs of pixels in the rows of an image.
#include <vector>

namespace neonvale {

// The pixels [begin, end) of one row.
struct PixelRun {
  int begin = 0;
  int end = 0;
};

// For each row, its runs in order, disjoint and not touching.
using RowRuns = std::vector<std::vector<PixelRun>>;

}  // namespace neonvale
