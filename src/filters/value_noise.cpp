#include "filters/value_noise.hpp"

#include <cmath>
#include <stdexcept>

#include <vector>

#include "core/sampling.hpp"
#include "core/random.hpp"
#include "core/parallel.hpp"

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

Image value_noise(int width, int height, std::uint32_t seed, float stretch) {
  Image out(width, height, 1);
  Random rng(seed);

  // All grids are drawn first, in octave order, so the draws do not depend on
  // how the rows are split afterwards.
  std::vector<Image> grids;
  std::vector<float> amplitudes;
  float total = 0.0f;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    Image grid(size.columns, size.rows, 1);
    for (float& g : grid.data) g = rng.next_float();
    grids.push_back(std::move(grid));
    amplitudes.push_back(powf(0.52f, float(i)));
    total = total + amplitudes.back();
  }
  const float k = 1.0f / total;

  // Each octave is sampled straight from its small grid (smoothstep weights,
  // corner-aligned), octave after octave into the same sum per pixel; the
  // column weights of every octave are worked out once.
  const float u_scale = float(width) - 1.0f;
  const float v_scale = float(height) - 1.0f;
  std::vector<std::vector<SampleTap>> columns(kNoiseOctaves, std::vector<SampleTap>(std::size_t(width)));
  for (int i = 0; i < kNoiseOctaves; ++i)
    for (int x = 0; x < width; ++x)
      columns[std::size_t(i)][std::size_t(x)] =
          sample_tap((float(x) / u_scale) * float(grids[std::size_t(i)].width - 1), grids[std::size_t(i)].width, true);

  float* values = out.plane(0);
  parallel_rows(height, width, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float v = float(y) / v_scale;
      float* o = values + std::size_t(y) * std::size_t(width);
      for (int i = 0; i < kNoiseOctaves; ++i) {
        const Image& grid = grids[std::size_t(i)];
        const SampleTap row = sample_tap(v * float(grid.height - 1), grid.height, true);
        const SampleTap* cols = columns[std::size_t(i)].data();
        const float* g = grid.plane(0);
        const float amplitude = amplitudes[std::size_t(i)];
        for (int x = 0; x < width; ++x) o[x] = sample_taps(g, grid.width, cols[x], row) * amplitude + o[x];
      }
      for (int x = 0; x < width; ++x) o[x] = o[x] * k;
    }
  });
  return out;
}

}  // namespace neonvale
