#pragma once
// Spans of rows or columns and rectangles of pixels, half-open like the
// loops that walk them.
#include <vector>

namespace neonvale {

// Rows or columns [begin, end); empty when end <= begin.
struct Span {
  int begin = 0;
  int end = 0;
  bool empty() const { return end <= begin; }
  int size() const { return end - begin; }
};

// The pixels of columns [x0, x1) in rows [y0, y1); empty when either is.
struct Rect {
  int x0 = 0, y0 = 0;
  int x1 = 0, y1 = 0;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
  Span rows() const { return {y0, y1}; }
  Span columns() const { return {x0, x1}; }
};

// The smallest rectangle that holds both; an empty one adds nothing.
inline Rect bounding(const Rect& a, const Rect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return {a.x0 < b.x0 ? a.x0 : b.x0, a.y0 < b.y0 ? a.y0 : b.y0, a.x1 > b.x1 ? a.x1 : b.x1, a.y1 > b.y1 ? a.y1 : b.y1};
}

// For each row of an image, spans of its pixels in order, disjoint and not
// touching.
using RowRuns = std::vector<std::vector<Span>>;

}  // namespace neonvale
