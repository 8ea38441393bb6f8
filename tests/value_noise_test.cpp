#include "filters/value_noise.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/random.hpp"
#include "filters/value_noise_reference.hpp"

namespace neonvale {
namespace {

long long total_draws(float stretch) {
  long long draws = 0;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    draws += (long long)size.columns * size.rows;
  }
  return draws;
}

TEST(ValueNoise, GridSizesOfBothStretches) {
  const int streaked[kNoiseOctaves] = {33, 66, 133, 266, 533, 1066};
  const int round[kNoiseOctaves] = {6, 12, 24, 48, 96, 192};
  for (int i = 0; i < kNoiseOctaves; ++i) {
    EXPECT_EQ(noise_grid_size(i, 0.18f).columns, streaked[i]) << "octave " << i;
    EXPECT_EQ(noise_grid_size(i, 1.0f).columns, round[i]) << "octave " << i;
    EXPECT_EQ(noise_grid_size(i, 0.18f).rows, 4 << i);
    EXPECT_EQ(noise_grid_size(i, 1.0f).rows, 4 << i);
  }
  EXPECT_EQ(total_draws(0.18f), 181860);
  EXPECT_EQ(total_draws(1.0f), 32760);
  // Wide stretches keep at least two columns.
  EXPECT_EQ(noise_grid_size(0, 100.0f).columns, 2);
  EXPECT_EQ(noise_grid_size(5, 1000.0f).columns, 2);
}

TEST(ValueNoise, UnrepresentableColumnCountIsRefused) {
  EXPECT_THROW(noise_grid_size(0, 0.0f), std::out_of_range);
  EXPECT_THROW(noise_grid_size(0, std::nanf("")), std::out_of_range);
  EXPECT_THROW(reference::value_noise(4, 4, 1, 1e-12f), std::out_of_range);
}

// On a 2 x 2 image the four pixels sample the four corners of every grid
// exactly, so each is a weighted sum of known draws: this pins the draw
// order (storage order, octave after octave) and the draw count per octave.
void expect_corners_match_draws(std::uint32_t seed, float stretch) {
  Random rng(seed);
  float expected[4] = {0, 0, 0, 0};
  float total = 0.0f;
  for (int i = 0; i < kNoiseOctaves; ++i) {
    const NoiseGridSize size = noise_grid_size(i, stretch);
    std::vector<float> grid(std::size_t(size.columns) * size.rows);
    for (float& g : grid) g = rng.next_float();
    const float amplitude = powf(0.52f, float(i));
    const float corners[4] = {grid[0], grid[size.columns - 1], grid[grid.size() - size.columns],
                              grid.back()};
    for (int c = 0; c < 4; ++c) expected[c] = corners[c] * amplitude + expected[c];
    total = total + amplitude;
  }
  const float k = 1.0f / total;
  const Image noise = reference::value_noise(2, 2, seed, stretch);
  EXPECT_EQ(noise.at(0, 0, 0), expected[0] * k);
  EXPECT_EQ(noise.at(0, 1, 0), expected[1] * k);
  EXPECT_EQ(noise.at(0, 0, 1), expected[2] * k);
  EXPECT_EQ(noise.at(0, 1, 1), expected[3] * k);
}

TEST(ValueNoise, CornersAreTheDrawsOfEveryOctave) {
  expect_corners_match_draws(2485691504u, 0.18f);
  expect_corners_match_draws(77u, 1.0f);
}

TEST(ValueNoise, SameSeedSameBytesAndSignOfStretchIgnored) {
  const Image a = reference::value_noise(37, 23, 12345u, 0.18f);
  const Image b = reference::value_noise(37, 23, 12345u, 0.18f);
  const Image negative = reference::value_noise(37, 23, 12345u, -0.18f);
  const Image other = reference::value_noise(37, 23, 12346u, 0.18f);
  ASSERT_EQ(a.data.size(), std::size_t(37 * 23));
  EXPECT_EQ(std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(a.data.data(), negative.data.data(), a.data.size() * sizeof(float)), 0);
  EXPECT_NE(std::memcmp(a.data.data(), other.data.data(), a.data.size() * sizeof(float)), 0);
}

TEST(ValueNoise, ValuesInUnitRangeAndSpread) {
  for (float stretch : {0.18f, 1.0f}) {
    const Image noise = reference::value_noise(96, 54, 99u, stretch);
    EXPECT_EQ(noise.channels, 1);
    float lo = 1.0f, hi = 0.0f;
    for (float v : noise.data) {
      ASSERT_GE(v, 0.0f);
      ASSERT_LT(v, 1.0f);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    EXPECT_GT(hi - lo, 0.2f) << "stretch " << stretch;
  }
}

// value_noise works out each octave's column weights once; sampling each
// grid plainly at every pixel must give the same bits.
TEST(ValueNoise, EqualsPlainSamplingOfEachOctave) {
  const int w = 83, h = 47;
  const std::uint32_t seed = 2485691504u;
  for (float stretch : {0.18f, 1.0f}) {
    Image out(w, h, 1);
    Random rng(seed);
    float total = 0.0f;
    for (int i = 0; i < kNoiseOctaves; ++i) {
      const NoiseGridSize size = noise_grid_size(i, stretch);
      Image grid(size.columns, size.rows, 1);
      for (float& g : grid.data) g = rng.next_float();
      const float amplitude = powf(0.52f, float(i));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const float u = float(x) / (float(w) - 1.0f), v = float(y) / (float(h) - 1.0f);
          out.at(0, x, y) = grid.sample_uv(0, u, v, true) * amplitude + out.at(0, x, y);
        }
      total = total + amplitude;
    }
    const float k = 1.0f / total;
    for (float& q : out.data) q = q * k;
    EXPECT_TRUE(reference::value_noise(w, h, seed, stretch).data == out.data) << stretch;
  }
}

// A row worked out on its own, in any order, is the image's row bit for bit.
TEST(NoiseRows, EachRowEqualsTheImageRow) {
  const int w = 77, h = 41;
  for (float stretch : {0.18f, 1.0f}) {
    const Image image = reference::value_noise(w, h, 912367u, stretch);
    const NoiseRows rows(w, h, 912367u, stretch);
    std::vector<float> row(w, -1.0f);
    for (int y : {h - 1, 0, 17, 3, h / 2}) {
      rows.fill_row(y, row.data());
      EXPECT_EQ(std::memcmp(row.data(), image.plane(0) + std::size_t(y) * w, sizeof(float) * w), 0)
          << "stretch " << stretch << ", row " << y;
    }
  }
}

}  // namespace
}  // namespace neonvale
