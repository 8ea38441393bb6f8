#pragma once
// The box blur, the one filter the passes share. Each sample becomes the mean
// of the (2R+1) x (2R+1) samples of its channel centred on it, edges clamped,
// computed separably with running sums so the cost does not grow with R. The
// plain filter that the passes' blurs are held to is reference::box_blur
// (box_blur_reference.hpp).
#include <cstddef>

#include <algorithm>
#include <utility>

#include "core/image.hpp"
#include "core/parallel.hpp"

namespace neonvale {

// The area of the box window as the filter scales by it: 1 / (2R+1)^2, the
// square formed in 64-bit integers and converted once.
float box_window_scale(int radius);

// The same sums as reference::box_blur, rows of the input asked for and rows
// of the result handed over one at a time, so a blur needs a ring of 2R + 2 +
// kBlock rows of sums instead of two whole images, and can read its input and
// write its result in the same planes.
//
// For `channels` planes of w x h samples:
//   source(c, y, row) fills `row` (w floats) with row y of input plane c;
//   sink(c, y, x0, n, sums) receives the vertical box sums of row y, columns
//     [x0, x0 + n), not yet scaled by box_window_scale.
// Input rows are asked for in increasing order, each once, and every input
// row that result row y depends on (up to y + R) is asked for before row y is
// handed over, so a sink may overwrite input row y in place. Rows run in
// blocks; within a block the input rows, and the column strips of the
// result, are split across threads. Every sum has the operations and order of
// box_sum_row and box_sum_columns.
class BoxBlurRows {
 public:
  BoxBlurRows(int width, int height, int channels, int radius);

  // Hands over result rows [0, rows) (all by default); input rows beyond
  // what those need are never asked for.
  template <class Source, class Sink>
  void run(Source&& source, Sink&& sink, int rows = -1) {
    run_blocks(std::forward<Source>(source), std::forward<Sink>(sink), [](int, int) {}, rows);
  }
  // The same, and block_done(y0, y1) on the calling thread once result rows
  // [y0, y1) have all been handed over, before any later input row is asked
  // for. Blocks are kRowsPerBlock rows long (the last may be shorter) and
  // come in order.
  template <class Source, class Sink, class BlockDone>
  void run_blocks(Source&& source, Sink&& sink, BlockDone&& block_done, int rows = -1);

  static constexpr int kRowsPerBlock = 32;

  // The longest segment a sink is handed.
  static constexpr int kMaxSegment = 256;
  // The rows of scratch a blur of this size holds: its ring of sums, the
  // input rows of a block and the running sums, all `channels` times.
  static double scratch_rows(int height, int channels, int radius);

 private:
  static constexpr int kBlock = kRowsPerBlock;
  static constexpr int kStrip = kMaxSegment;
  float* ring_row(int c, long long y) {
    return ring_.data() + (std::size_t(c) * std::size_t(capacity_) + std::size_t(y % capacity_)) * std::size_t(w_);
  }
  void first_row(int c, int x0, int n, float* sums);
  void next_row(int c, long long y, int x0, int n, float* sums);

  int w_, h_, channels_, r_;
  int capacity_;
  PlaneBuffer ring_;     // per channel, `capacity_` rows of horizontal sums
  PlaneBuffer columns_;  // per channel, the running vertical sums of the last row
  PlaneBuffer input_;    // per input row of a block, the row as the source gives it
};

// Box sums of one run of n floats, clamped at both ends.
void box_sum_row(const float* in, float* out, int n, int radius);
// box_sum_row of `count` runs (at most 4) at once, bit for bit the same.
void box_sum_rows(const float* const* in, float* const* out, int count, int n, int radius);
// The same down the columns of a w x h plane, one whole row at a time.
void box_sum_columns(const float* in, float* out, int w, int h, int radius);
void add_row(const float* in, float* out, int n);
void subtract_row(const float* in, float* out, int n);

template <class Source, class Sink, class BlockDone>
void BoxBlurRows::run_blocks(Source&& source, Sink&& sink, BlockDone&& block_done, int rows) {
  if (w_ < 1 || h_ < 1 || channels_ < 1) return;
  const int result_rows = rows < 0 || rows > h_ ? h_ : rows;
  const long long last = h_ - 1;
  const int strips = (w_ + kStrip - 1) / kStrip;
  long long next_input = 0;  // the first input row not yet summed
  for (int y0 = 0; y0 < result_rows; y0 += kBlock) {
    const int y1 = std::min(result_rows, y0 + kBlock);
    // Horizontal sums of every input row the block's results need.
    const long long need = std::min<long long>(last, (long long)(y1 - 1) + r_) + 1;
    const int fresh = int(need - next_input);
    const long long first = next_input;
    if (fresh > 0)
      parallel_rows(fresh * channels_, w_, [&](int begin, int end) {
        // Up to four rows of one channel are summed together.
        for (int job = begin; job < end;) {
          const int c = job / fresh;
          const int count = std::min({4, end - job, (c + 1) * fresh - job});
          const float* in[4];
          float* out[4];
          for (int k = 0; k < count; ++k) {
            const long long y = first + (job + k) % fresh;
            float* row = input_.data() + std::size_t(job + k) * std::size_t(w_);
            source(c, int(y), row);
            in[k] = row;
            out[k] = ring_row(c, y);
          }
          box_sum_rows(in, out, count, w_, r_);
          job += count;
        }
      });
    next_input = need;
    // Vertical sums down each strip of columns, row after row of the block.
    parallel_for(strips * channels_, [&](int begin, int end) {
      for (int job = begin; job < end; ++job) {
        const int c = job / strips;
        const int x0 = (job % strips) * kStrip;
        const int n = std::min(kStrip, w_ - x0);
        float* sums = columns_.data() + std::size_t(c) * std::size_t(w_) + std::size_t(x0);
        for (int y = y0; y < y1; ++y) {
          if (y == 0)
            first_row(c, x0, n, sums);
          else
            next_row(c, y, x0, n, sums);
          sink(c, y, x0, n, static_cast<const float*>(sums));
        }
      }
    });
    block_done(y0, y1);
  }
}

}  // namespace neonvale
