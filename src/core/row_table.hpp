#pragma once
// RowTable: the planes of an image held row by row wherever the rows are. A
// pass that overwrites its input as it goes keeps, of the values as they
// were, only what later reads still need: rows not yet written stay in
// place, recent rows sit in a ring, older ones survive cut down to the
// columns that can still be read. The table says, for each row of each
// plane, where its values are and which columns it holds, and samples them
// with exactly the arithmetic of Image::sample.
//
// A read of a row or a column that is not held throws std::logic_error: a
// wrong bound on what a pass reads then fails loudly instead of reading a
// value that was already overwritten.
#include <cstddef>
#include <stdexcept>
#include <vector>

#include "core/sampling.hpp"

namespace neonvale {

class RowTable {
 public:
  RowTable(int width, int height, int planes)
      : width(width), height(height), rows_(std::size_t(planes) * std::size_t(height > 0 ? height : 0)) {}

  int width, height;

  // Row y of plane c is held at `values`, which holds columns
  // [first, first + count); a whole row by default.
  void hold(int c, int y, const float* values, int first = 0, int count = -1) {
    rows_[index(c, y)] = Row{values, first, count < 0 ? width : count};
  }
  // Row y of plane c is no longer held.
  void release(int c, int y) { rows_[index(c, y)] = Row{}; }

  PixelTaps taps(float x, float y, bool smooth) const { return pixel_taps(x, y, width, height, smooth); }
  float sample(int c, const PixelTaps& t) const {
    const Pair top = rows_[index(c, t.y.i0)].pair(t.x);
    const Pair bottom = rows_[index(c, t.y.i1)].pair(t.x);
    return bilinear(top.left, top.right, bottom.left, bottom.right, t.x.f, t.y.f);
  }
  // Row y of plane c, which must be held whole.
  const float* row(int c, int y) const {
    const Row& r = rows_[index(c, y)];
    if (!r.values || r.first != 0 || r.count != width) throw std::logic_error("a row read whole is not held whole");
    return r.values;
  }

 private:
  struct Pair {
    float left, right;
  };
  struct Row {
    const float* values = nullptr;
    int first = 0;
    int count = 0;
    // The values of columns x.i0 and x.i1, which is never left of x.i0.
    Pair pair(SampleTap x) const {
      const long long left = (long long)x.i0 - first, right = (long long)x.i1 - first;
      if (left < 0 || right >= count) throw std::logic_error("a read reached a value no longer held");
      return {values[left], values[right]};
    }
  };
  std::size_t index(int c, int y) const { return std::size_t(c) * std::size_t(height) + std::size_t(y); }

  std::vector<Row> rows_;
};

}  // namespace neonvale
