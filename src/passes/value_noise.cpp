#include "passes/value_noise.hpp"

#include <cmath>
#include <stdexcept>

#include "scene/random.hpp"

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
  float total = 0.0f;
  float* values = out.plane(0);
  const float u_scale = float(width) - 1.0f;
  const float v_scale = float(height) - 1.0f;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    Image grid(size.columns, size.rows, 1);
    for (float& g : grid.data) g = rng.next_float();
    const float amplitude = powf(0.52f, float(i));
    // Sampled straight from the small grid: no full-size copy of the octave.
    float* o = values;
    for (int y = 0; y < height; ++y) {
      const float v = float(y) / v_scale;
      for (int x = 0; x < width; ++x) {
        const float u = float(x) / u_scale;
        *o = grid.sample_uv(0, u, v, true) * amplitude + *o;
        ++o;
      }
    }
    total = total + amplitude;
  }
  const float k = 1.0f / total;
  for (float& value : out.data) value = value * k;
  return out;
}

}  // namespace neonvale
