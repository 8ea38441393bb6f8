#include "filters/box_blur.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "filters/box_blur_reference.hpp"

namespace neonvale {
namespace {

// The clamped box mean written out directly, in double, as a reference.
double brute_force_mean(const Image& image, int c, int x, int y, int r) {
  double sum = 0.0;
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx) {
      const int sx = std::clamp(x + dx, 0, image.width - 1);
      const int sy = std::clamp(y + dy, 0, image.height - 1);
      sum += image.at(c, sx, sy);
    }
  const double side = 2.0 * r + 1.0;
  return sum / (side * side);
}

Image patterned(int w, int h, int channels) {
  Image image(w, h, channels);
  for (std::size_t i = 0; i < image.data.size(); ++i) image.data[i] = float((i * 37) % 11) * 0.25f - 1.0f;
  return image;
}

TEST(BoxBlur, MatchesClampedBoxMeanEverywhere) {
  const Image source = patterned(9, 7, 2);
  for (int r : {1, 2, 3}) {
    const Image out = reference::box_blur(source, r);
    ASSERT_EQ(out.width, 9);
    ASSERT_EQ(out.height, 7);
    ASSERT_EQ(out.channels, 2);
    for (int c = 0; c < 2; ++c)
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
          EXPECT_NEAR(out.at(c, x, y), brute_force_mean(source, c, x, y, r), 1e-5)
              << "r=" << r << " c=" << c << " x=" << x << " y=" << y;
  }
}

TEST(BoxBlur, LoneSampleSpreadsOverItsSquare) {
  Image source(11, 11, 1);
  source.at(0, 5, 5) = 3.0f;
  const Image out = reference::box_blur(source, 2);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 11; ++x) {
      const bool inside = std::abs(x - 5) <= 2 && std::abs(y - 5) <= 2;
      if (inside)
        EXPECT_NEAR(out.at(0, x, y), 3.0f / 25.0f, 1e-6) << x << "," << y;
      else
        EXPECT_EQ(out.at(0, x, y), 0.0f) << x << "," << y;
    }
}

TEST(BoxBlur, OneRowOfThreeClampsAtBothEnds) {
  Image source(3, 1, 1);
  const float a = 0.3f, b = 1.7f, c = -0.4f;
  source.at(0, 0, 0) = a;
  source.at(0, 1, 0) = b;
  source.at(0, 2, 0) = c;
  const Image out = reference::box_blur(source, 1);
  EXPECT_NEAR(out.at(0, 0, 0), (2 * a + b) / 3, 1e-6);
  EXPECT_NEAR(out.at(0, 1, 0), (a + b + c) / 3, 1e-6);
  EXPECT_NEAR(out.at(0, 2, 0), (b + 2 * c) / 3, 1e-6);
}

TEST(BoxBlur, ConstantImageStaysConstantAtTheEdges) {
  Image source(7, 5, 2);
  std::fill(source.data.begin(), source.data.end(), 0.75f);
  const Image out = reference::box_blur(source, 3);
  for (float v : out.data) EXPECT_NEAR(v, 0.75f, 1e-6);
}

TEST(BoxBlur, NegativeRadiusActsAsItsMagnitude) {
  const Image source = patterned(6, 5, 3);
  const Image positive = reference::box_blur(source, 2);
  const Image negative = reference::box_blur(source, -2);
  EXPECT_TRUE(positive.data == negative.data);
}

TEST(BoxBlur, RadiusZeroReturnsTheSource) {
  const Image source = patterned(4, 3, 1);
  const Image out = reference::box_blur(source, 0);
  EXPECT_TRUE(out.data == source.data);
}

TEST(BoxBlur, RadiusBeyondTheImageUsesClampedEdges) {
  const Image source = patterned(3, 2, 1);
  const Image out = reference::box_blur(source, 10);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_NEAR(out.at(0, x, y), brute_force_mean(source, 0, x, y, 10), 1e-5);

  Image pixel(1, 1, 1);
  pixel.data[0] = 0.6f;
  // 2R+2 rounded additions.
  for (int r : {1, 7, 100}) EXPECT_NEAR(reference::box_blur(pixel, r).data[0], 0.6f, 1e-5) << r;
}

TEST(BoxBlur, EmptyImagesStayEmpty) {
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    const Image out = reference::box_blur(Image(w, h, 3), 2);
    EXPECT_EQ(out.width, w);
    EXPECT_EQ(out.height, h);
    EXPECT_EQ(out.channels, 3);
    EXPECT_TRUE(out.data.empty());
  }
}

TEST(BoxSum, RowWithoutSamplesWritesNothing) {
  const float in[1] = {1.0f};
  float out[1] = {42.0f};
  box_sum_row(in, out, 0, 3);
  EXPECT_EQ(out[0], 42.0f);
}

// The renderer's blurs run through a ring of rows and may write the result
// over their input; they must give exactly the plain filter's bits, also on
// images lower than the window and when only the first rows are asked for.
TEST(BoxSum, SeveralRowsAtOnceGiveEachRowsOwnBits) {
  // Values whose sums round at every step, rows of every length around the
  // four-column blocks, windows from one sample to wider than the row.
  for (int n : {1, 3, 4, 5, 17, 64}) {
    std::vector<float> in(4 * std::size_t(n));
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::sin(float(i) * 1.7f) * 1e3f + float(i % 7) * 1e-3f;
    for (int r : {0, 1, 2, 5, n, n + 3}) {
      for (int count = 1; count <= 4; ++count) {
        const float* rows[4];
        std::vector<float> got(4 * std::size_t(n), -1.0f), want(4 * std::size_t(n), -2.0f);
        float* outs[4];
        for (int k = 0; k < count; ++k) {
          rows[k] = in.data() + std::size_t(k) * std::size_t(n);
          outs[k] = got.data() + std::size_t(k) * std::size_t(n);
          box_sum_row(rows[k], want.data() + std::size_t(k) * std::size_t(n), n, r);
        }
        box_sum_rows(rows, outs, count, n, r);
        for (std::size_t i = 0; i < std::size_t(count) * std::size_t(n); ++i)
          ASSERT_EQ(got[i], want[i]) << n << " " << r << " " << count << " " << i;
        for (std::size_t i = std::size_t(count) * std::size_t(n); i < got.size(); ++i) ASSERT_EQ(got[i], -1.0f);
      }
    }
  }
}

TEST(BoxBlurRows, GivesThePlainFiltersBitsInPlace) {
  struct Case {
    int w, h, channels, radius;
  };
  for (const Case& c : {Case{301, 67, 3, 1}, Case{301, 67, 3, 3}, Case{97, 200, 2, 40}, Case{40, 5, 1, 9},
                        Case{1, 1, 1, 7}, Case{700, 1, 1, 2}}) {
    const Image source = patterned(c.w, c.h, c.channels);
    const Image expected = reference::box_blur(source, c.radius);
    Image image(source);
    const float k = box_window_scale(c.radius);
    BoxBlurRows blur(c.w, c.h, c.channels, c.radius);
    blur.run([&](int ch, int y, float* row) { std::copy_n(image.plane(ch) + std::size_t(y) * c.w, c.w, row); },
             [&](int ch, int y, int x0, int n, const float* sums) {
               float* out = image.plane(ch) + std::size_t(y) * c.w + x0;
               for (int x = 0; x < n; ++x) out[x] = sums[x] * k;
             });
    EXPECT_TRUE(image.data == expected.data) << c.w << "x" << c.h << " r" << c.radius;

    // Only the first third of the rows: those match, and nothing below them is asked for.
    const int rows = c.h / 3 + 1;
    // Rows are asked for from several threads at once.
    std::mutex deepest_mutex;
    int deepest = -1;
    Image partial(c.w, c.h, c.channels);
    blur.run(
        [&](int ch, int y, float* row) {
          {
            std::lock_guard<std::mutex> lock(deepest_mutex);
            deepest = std::max(deepest, y);
          }
          std::copy_n(source.plane(ch) + std::size_t(y) * c.w, c.w, row);
        },
        [&](int ch, int y, int x0, int n, const float* sums) {
          for (int x = 0; x < n; ++x) partial.at(ch, x0 + x, y) = sums[x] * k;
        },
        rows);
    EXPECT_LE(deepest, std::min(c.h - 1, rows - 1 + c.radius));
    for (int ch = 0; ch < c.channels; ++ch)
      for (int y = 0; y < rows; ++y)
        for (int x = 0; x < c.w; ++x) ASSERT_EQ(partial.at(ch, x, y), expected.at(ch, x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace neonvale
