#pragma once
// Fractal value noise: six octaves of smoothly sampled random grids, in [0, 1).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/sampling.hpp"

namespace neonvale {

constexpr int kNoiseOctaves = 6;

// Size of the random grid of one octave. The magnitude of `stretch` divides
// the column count, so a small stretch streaks the noise vertically. Throws
// std::out_of_range when the column count does not fit an int (a stretch of
// 0, NaN or a tiny magnitude).
struct NoiseGridSize {
  int columns;
  int rows;
};
NoiseGridSize noise_grid_size(int octave, float stretch);
// The floats of all the grids of one noise with this stretch.
std::size_t noise_grid_floats(float stretch);

// The noise of a width x height image one row at a time, so that passes that
// read only some rows need not hold the whole image. All random grids are
// drawn when it is made, in octave order, so a row's values do not depend on
// which rows are asked for, or in what order. fill_row only reads the
// generator, so threads may share one. reference::value_noise is the whole
// image.
class NoiseRows {
 public:
  NoiseRows(int width, int height, std::uint32_t seed, float stretch);
  int width() const { return width_; }
  int height() const { return height_; }
  // Writes the `width` values of row y to out[0 .. width).
  void fill_row(int y, float* out) const;

 private:
  int width_, height_;
  std::vector<Image> grids_;                    // one per octave, in draw order
  std::vector<float> amplitudes_;               // per octave
  float scale_;                                 // 1 / sum of the amplitudes
  // Per octave, the columns in runs that share their two grid columns, and
  // each column's weight: a run's four grid values are read once per row.
  struct ColumnRun {
    int begin, end;  // columns [begin, end)
    int i0, i1;      // their grid columns
  };
  std::vector<std::vector<ColumnRun>> runs_;
  std::vector<std::vector<float>> weights_;
};

}  // namespace neonvale
