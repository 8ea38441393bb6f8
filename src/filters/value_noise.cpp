#include "filters/value_noise.hpp"

#include <cmath>
#include <stdexcept>

#include <vector>

#include "core/parallel.hpp"
#include "core/random.hpp"
#include "core/sampling.hpp"
#include "filters/value_noise_reference.hpp"

namespace neonvale {

NoiseGridSize noise_grid_size(int octave, float stretch) {
  const float s = std::fabs(stretch);
  const float quotient = float(6 << octave) / s;
  // The comparison is false for NaN as well; anything at or above 2^31 would
  // make the conversion to int undefined.
  if (!(quotient < 2147483648.0f)) throw std::out_of_range("value noise stretch out of range");
  const int columns = int(quotient);  // truncates toward zero
  return NoiseGridSize{columns > 2 ? columns : 2, 4 << octave};
}

std::size_t noise_grid_floats(float stretch) {
  std::size_t floats = 0;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    floats += std::size_t(size.columns) * std::size_t(size.rows);
  }
  return floats;
}

NoiseRows::NoiseRows(int width, int height, std::uint32_t seed, float stretch)
    : width_(width), height_(height) {
  if (width < 0 || height < 0) throw std::invalid_argument("value noise dimensions are negative");
  Random rng(seed);

  // All grids are drawn first, in octave order, so the draws do not depend on
  // which rows are asked for afterwards, or in what order.
  float total = 0.0f;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    Image grid(size.columns, size.rows, 1);
    for (float& g : grid.data) g = rng.next_float();
    grids_.push_back(std::move(grid));
    amplitudes_.push_back(powf(0.52f, float(i)));
    total = total + amplitudes_.back();
  }
  scale_ = 1.0f / total;

  // The column weights of every octave are the same on every row.
  const float u_scale = float(width) - 1.0f;
  runs_.resize(kNoiseOctaves);
  weights_.assign(kNoiseOctaves, std::vector<float>(std::size_t(width)));
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const int grid_width = grids_[std::size_t(i)].width;
    std::vector<ColumnRun>& runs = runs_[std::size_t(i)];
    for (int x = 0; x < width; ++x) {
      const SampleTap tap = sample_tap((float(x) / u_scale) * float(grid_width - 1), grid_width, true);
      weights_[std::size_t(i)][std::size_t(x)] = tap.f;
      if (runs.empty() || runs.back().i0 != tap.i0 || runs.back().i1 != tap.i1)
        runs.push_back(ColumnRun{x, x, tap.i0, tap.i1});
      runs.back().end = x + 1;
    }
  }
}

void NoiseRows::fill_row(int y, float* o) const {
  // Each octave is sampled straight from its small grid (smoothstep weights,
  // corner-aligned), octave after octave into the same sum per pixel, which
  // starts at zero.
  const float v = float(y) / (float(height_) - 1.0f);
  for (int x = 0; x < width_; ++x) o[x] = 0.0f;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const Image& grid = grids_[std::size_t(i)];
    const SampleTap row = sample_tap(v * float(grid.height - 1), grid.height, true);
    const float* top = grid.plane(0) + std::size_t(row.i0) * std::size_t(grid.width);
    const float* bottom = grid.plane(0) + std::size_t(row.i1) * std::size_t(grid.width);
    const float* weight = weights_[std::size_t(i)].data();
    const float amplitude = amplitudes_[std::size_t(i)];
    // The run's grid values are read once.
    for (const ColumnRun& run : runs_[std::size_t(i)]) {
      const float a = top[run.i0], b = top[run.i1], c = bottom[run.i0], d = bottom[run.i1];
      for (int x = run.begin; x < run.end; ++x) o[x] = bilinear(a, b, c, d, weight[x], row.f) * amplitude + o[x];
    }
  }
  for (int x = 0; x < width_; ++x) o[x] = o[x] * scale_;
}

namespace reference {

Image value_noise(int width, int height, std::uint32_t seed, float stretch) {
  Image out(width, height, 1);
  const NoiseRows noise(width, height, seed, stretch);
  float* values = out.plane(0);
  parallel_rows(height, width, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) noise.fill_row(y, values + std::size_t(y) * std::size_t(width));
  });
  return out;
}

}  // namespace reference

}  // namespace neonvale
