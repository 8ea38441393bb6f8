#include "core/row_table.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/image.hpp"
#include "core/random.hpp"

namespace neonvale {
namespace {

// An image with a different value at every sample.
Image ramp(int width, int height, int channels) {
  Image image(width, height, channels);
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image.at(c, x, y) = float(c * 10000 + y * 100 + x) * 0.37f;
  return image;
}

// Rows held in place, as copies, and as copies cut down to some columns
// sample as the image does, bit for bit; what is not held is refused.
TEST(RowTable, SamplesRowsHeldAnywhereAsTheImageDoes) {
  const int w = 40, h = 30;
  const Image image = ramp(w, h, 2);
  const Image copies(image);
  RowTable table(w, h, 2);
  for (int c = 0; c < 2; ++c)
    for (int y = 0; y < h; ++y) {
      if (y < 10)
        table.hold(c, y, image.plane(c) + y * w);
      else if (y < 20)
        table.hold(c, y, copies.plane(c) + y * w);
      else  // columns 5 to 34
        table.hold(c, y, copies.plane(c) + y * w + 5, 5, 30);
    }
  Random rng(3);
  for (int i = 0; i < 2000; ++i) {
    const float x = 5.0f + rng.next_float() * 29.0f;
    const float y = -2.0f + rng.next_float() * 33.0f;
    for (int c = 0; c < 2; ++c) {
      const PixelTaps t = table.taps(x, y, false);
      ASSERT_EQ(table.sample(c, t), image.sample(c, x, y, false)) << x << ", " << y;
    }
  }
  EXPECT_EQ(table.row(1, 12), copies.plane(1) + 12 * w);
  EXPECT_THROW(table.row(0, 25), std::logic_error);                      // held in part
  EXPECT_THROW(table.sample(0, table.taps(2.0f, 25.0f, false)), std::logic_error);  // column 2 is cut
  EXPECT_THROW(table.sample(0, table.taps(34.5f, 25.0f, false)), std::logic_error);  // and column 35
  table.release(1, 3);
  EXPECT_THROW(table.sample(1, table.taps(7.0f, 2.5f, false)), std::logic_error);
  EXPECT_NO_THROW(table.sample(0, table.taps(7.0f, 2.5f, false)));
}

}  // namespace
}  // namespace neonvale
