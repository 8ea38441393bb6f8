#include "core/image.hpp"

#include <gtest/gtest.h>

#include <climits>

#include "core/image_reference.hpp"
#include "test_support.hpp"
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

namespace neonvale {
namespace {

// The share of the pages of [data, data + bytes) that are in memory.
double resident_share(const void* data, std::size_t bytes) {
  const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data) / page * page;
  const std::size_t length = reinterpret_cast<std::uintptr_t>(data) + bytes - begin;
  std::vector<unsigned char> flags((length + page - 1) / page);
  if (mincore(reinterpret_cast<void*>(begin), length, flags.data()) != 0) return -1.0;
  std::size_t resident = 0;
  for (unsigned char f : flags) resident += f & 1u;
  return double(resident) / double(flags.size());
}

// A w x h x c image whose every value differs: 100 c + 10 y + x.
Image numbered(int w, int h, int c) {
  Image image(w, h, c);
  for (int ch = 0; ch < c; ++ch)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) image.at(ch, x, y) = float(100 * ch + 10 * y + x);
  return image;
}

TEST(Image, NewImageIsZeroAndPlanar) {
  Image image(4, 3, 2);
  ASSERT_EQ(image.data.size(), 24u);
  for (float v : image.data) EXPECT_EQ(v, 0.0f);
  image.at(1, 2, 1) = 7.0f;
  EXPECT_EQ(image.data[18], 7.0f);
  const auto planes = image.channel_pointers();
  ASSERT_EQ(planes.size(), 2u);
  EXPECT_EQ(planes[0], image.data.data());
  EXPECT_EQ(planes[1], image.data.data() + 12);
}

TEST(Image, ZeroDimensionHasNoStorage) {
  Image image(0, 5, 3);
  EXPECT_TRUE(image.data.empty());
  EXPECT_EQ(image.channels, 3);
}

TEST(Image, RefusesNegativeAndOversizedCountsBeforeAllocating) {
  EXPECT_THROW(Image(-1, 4, 3), std::invalid_argument);
  EXPECT_THROW(Image(4, 4, -3), std::invalid_argument);
  // Only counts whose bytes a pointer offset cannot reach: 2^61 floats are
  // one byte beyond a signed 64-bit offset.
  EXPECT_THROW(Image(1 << 30, 1 << 30, 4), std::length_error);
  EXPECT_THROW(Image(INT_MAX, INT_MAX, INT_MAX), std::length_error);
  EXPECT_EQ(checked_element_count(1 << 30, 1 << 30, 1), std::size_t(1) << 60);
  EXPECT_THROW(checked_element_count(1 << 30, 1 << 30, 2), std::length_error);
  EXPECT_EQ(checked_element_count(65536, 32768, 1), std::size_t(1) << 31);  // beyond 32 bits is fine
  EXPECT_EQ(checked_element_count(100000, 100000, 0), 0u);
}

TEST(Image, LargeStorageIsZeroAndHugePageAligned) {
  for (int round = 0; round < 2; ++round) {  // the second reuses the first block, dirtied below
    Image image(1537, 1025, 3);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(image.data.data()) % (std::uintptr_t(2) << 20), 0u);
    for (std::size_t i = 0; i < image.data.size(); i += 4093) ASSERT_EQ(image.data[i], 0.0f);
    EXPECT_EQ(image.data[image.data.size() - 1], 0.0f);
    for (float& v : image.data) v = 3.0f;
  }
}

TEST(PlaneBuffer, OddSizesAreZeroAndWritableToTheEnd) {
  const std::size_t threshold = kMappedBlockThreshold / sizeof(float);
  for (std::size_t count : {std::size_t(1), std::size_t(1023), threshold - 1, threshold, threshold + 1,
                            std::size_t(3) * (std::size_t(2) << 20) / sizeof(float) + 7}) {
    PlaneBuffer buffer(count);
    ASSERT_EQ(buffer.size(), count);
    EXPECT_EQ(buffer[0], 0.0f);
    EXPECT_EQ(buffer[count - 1], 0.0f);
    buffer[count - 1] = 1.0f;
  }
}

// A fresh block for a whole plane is faulted in when it is made (by every
// thread at once), so no loop that writes it stalls on its pages; a sparse
// plane keeps unwritten pages out of memory.
TEST(PlaneBuffer, FreshBlocksAreFaultedInWhenMadeButSparseOnesAreNot) {
  release_kept_planes();
  const std::size_t count = (std::size_t(16) << 20) / sizeof(float);
  const PlaneBuffer dense(count);
  EXPECT_EQ(resident_share(dense.data(), count * sizeof(float)), 1.0);
  PlaneBuffer sparse = PlaneBuffer::sparse(count);
  sparse[count / 2] = 1.0f;
  const double share = resident_share(sparse.data(), count * sizeof(float));
  EXPECT_GT(share, 0.0);
  EXPECT_LT(share, 0.01);
}

// A released block is handed out again, cleared, for a smaller request; what
// it holds beyond the request goes back to the system. A request that no kept
// block holds returns the kept ones first. So the allocator never holds more
// than its high-water mark of live storage.
TEST(PlaneBuffer, KeptBlocksServeLaterRequestsAndNeverPileUp) {
  const std::size_t block = std::size_t(2) << 20;  // the mapping granularity, in bytes
  release_kept_planes();
  reset_plane_high_water();
  const std::uint64_t base = plane_memory().live;
  const float* first = nullptr;
  {
    PlaneBuffer big(6 * block / sizeof(float));
    first = big.data();
    for (float& v : big) v = 7.0f;
  }
  EXPECT_EQ(plane_memory().kept, 6 * block);
  PlaneBuffer small(4 * block / sizeof(float) - 5);
  EXPECT_EQ(small.data(), first);
  for (float v : small) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(plane_memory().kept, 0u);
  { PlaneBuffer released(3 * block / sizeof(float)); }
  EXPECT_EQ(plane_memory().kept, 3 * block);
  PlaneBuffer larger(5 * block / sizeof(float));
  EXPECT_EQ(plane_memory().kept, 0u);
  const PlaneMemory now = plane_memory();
  EXPECT_EQ(now.live - base, 9 * block - 5 * sizeof(float));
  EXPECT_EQ(now.high_water - base, now.live - base);
}

TEST(Image, FailedAllocationThrowsBadAlloc) {
  if (test::built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = rlim_t(1) << 30;  // far below a 2 GiB request, above what the test binary uses
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  bool threw = false;
  try {
    Image image(16384, 8192, 4);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_TRUE(threw);
}

TEST(Image, CopyIsDeepAndMoveLeavesSourceEmpty) {
  Image source = numbered(3, 2, 2);
  Image copy(source);
  EXPECT_EQ(copy.data, source.data);
  EXPECT_NE(copy.data.data(), source.data.data());
  copy.at(0, 0, 0) = -1.0f;
  EXPECT_EQ(source.at(0, 0, 0), 0.0f);

  const float* storage = source.data.data();
  Image moved(std::move(source));
  EXPECT_EQ(moved.data.data(), storage);
  EXPECT_EQ(moved.width, 3);
  EXPECT_TRUE(source.data.empty());
  EXPECT_EQ(source.width, 0);

  Image target(5, 5, 1);
  target = std::move(moved);
  EXPECT_EQ(target.data.data(), storage);
  EXPECT_EQ(target.width, 3);
  EXPECT_EQ(target.height, 2);
  EXPECT_EQ(target.channels, 2);
  EXPECT_TRUE(moved.data.empty());

  Image& alias = target;
  target = std::move(alias);
  EXPECT_EQ(target.data.data(), storage);
  EXPECT_EQ(target.data.size(), 12u);
}

TEST(Sample, IntegerPositionsReturnStoredValues) {
  const Image image = numbered(5, 4, 2);
  EXPECT_EQ(image.sample(0, 3.0f, 2.0f, false), 23.0f);
  EXPECT_EQ(image.sample(1, 4.0f, 3.0f, true), 134.0f);
}

TEST(Sample, LinearAndSmoothWeights) {
  Image image(2, 2, 1);
  image.at(0, 1, 0) = 1.0f;
  EXPECT_EQ(image.sample(0, 0.5f, 0.0f, false), 0.5f);
  EXPECT_EQ(image.sample(0, 0.5f, 0.0f, true), 0.5f);
  EXPECT_EQ(image.sample(0, 0.25f, 0.0f, false), 0.25f);
  EXPECT_EQ(image.sample(0, 0.25f, 0.0f, true), 0.15625f);
  // top * (1 - fy) + bottom * fy, top and bottom blended across first.
  image.at(0, 0, 1) = 2.0f;
  image.at(0, 1, 1) = 4.0f;
  const float top = 0.75f * 0.0f + 0.25f * 1.0f;
  const float bottom = 0.75f * 2.0f + 0.25f * 4.0f;
  EXPECT_EQ(image.sample(0, 0.25f, 0.5f, false), top * 0.5f + bottom * 0.5f);
}

TEST(Sample, ClampsOutsidePositionsAndNaNToEdges) {
  const Image image = numbered(4, 3, 1);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(image.sample(0, -3.0f, 1.0f, false), 10.0f);
  EXPECT_EQ(image.sample(0, 14.0f, 1.0f, false), 13.0f);
  EXPECT_EQ(image.sample(0, inf, 1.0f, false), 13.0f);
  EXPECT_EQ(image.sample(0, -inf, 1.0f, false), 10.0f);
  EXPECT_EQ(image.sample(0, nan, 1.0f, false), 13.0f);  // the upper clamp comes first
  EXPECT_EQ(image.sample(0, 0.0f, nan, false), 20.0f);
  EXPECT_EQ(image.sample(0, 2.0f, -1.0f, true), 2.0f);
}

TEST(Sample, OnePixelWideImageReadsItsColumnEverywhere) {
  const Image image = numbered(1, 3, 1);
  for (float x : {-2.0f, 0.0f, 0.3f, 5.0f}) EXPECT_EQ(image.sample(0, x, 2.0f, false), 20.0f);
  EXPECT_EQ(image.sample(0, 0.7f, 0.5f, false), 5.0f);
}

TEST(Sample, ChannelWrapsModuloChannelCount) {
  const Image image = numbered(3, 3, 3);
  EXPECT_EQ(image.sample(4, 1.0f, 1.0f, false), 111.0f);
  EXPECT_EQ(image.sample(3, 2.0f, 0.0f, false), 2.0f);
}

TEST(Sample, UvMapsOneToTheLastPixelCentre) {
  const Image image = numbered(5, 3, 1);
  EXPECT_EQ(image.sample_uv(0, 0.0f, 0.0f, false), 0.0f);
  EXPECT_EQ(image.sample_uv(0, 1.0f, 1.0f, false), 24.0f);
  EXPECT_EQ(image.sample_uv(0, 0.5f, 0.5f, false), 12.0f);
}

TEST(Resample, CornersAlignAndInteriorInterpolates) {
  Image source(2, 2, 2);
  const float v[4] = {1.0f, 3.0f, 5.0f, 11.0f};
  for (int i = 0; i < 4; ++i) {
    source.at(0, i % 2, i / 2) = v[i];
    source.at(1, i % 2, i / 2) = -v[i];
  }
  const Image out = reference::resample(source, 3, 3, false);
  ASSERT_EQ(out.width, 3);
  ASSERT_EQ(out.height, 3);
  ASSERT_EQ(out.channels, 2);
  EXPECT_EQ(out.at(0, 0, 0), 1.0f);
  EXPECT_EQ(out.at(0, 2, 0), 3.0f);
  EXPECT_EQ(out.at(0, 0, 2), 5.0f);
  EXPECT_EQ(out.at(0, 2, 2), 11.0f);
  EXPECT_EQ(out.at(0, 1, 0), 2.0f);
  EXPECT_EQ(out.at(0, 0, 1), 3.0f);
  EXPECT_EQ(out.at(0, 2, 1), 7.0f);
  EXPECT_EQ(out.at(0, 1, 2), 8.0f);
  EXPECT_EQ(out.at(0, 1, 1), 5.0f);
  EXPECT_EQ(out.at(1, 1, 1), -5.0f);
}

TEST(Resample, SmoothEnlargementKeepsCorners) {
  const Image source = numbered(3, 2, 1);
  const Image out = reference::resample(source, 7, 5, true);
  EXPECT_EQ(out.at(0, 0, 0), 0.0f);
  EXPECT_EQ(out.at(0, 6, 0), 2.0f);
  EXPECT_EQ(out.at(0, 0, 4), 10.0f);
  EXPECT_EQ(out.at(0, 6, 4), 12.0f);
}

TEST(PlaneOps, CopyChannelsWrapsSourcePlanes) {
  const Image scene = numbered(3, 2, 12);
  Image snapshot(3, 2, 5);
  reference::copy_channels(snapshot, scene);
  for (int c = 0; c < 5; ++c) EXPECT_EQ(snapshot.at(c, 2, 1), scene.at(c, 2, 1));

  const Image one = numbered(3, 2, 1);
  Image three(3, 2, 3);
  reference::copy_channels(three, one);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(three.at(c, 1, 1), 11.0f);
}

TEST(PlaneOps, SizeMismatchZeroFillsAndKeepsOwnSize) {
  Image target = numbered(3, 2, 2);
  reference::copy_channels(target, numbered(2, 3, 2));
  EXPECT_EQ(target.width, 3);
  EXPECT_EQ(target.data.size(), 12u);
  for (float v : target.data) EXPECT_EQ(v, 0.0f);

  Image sum = numbered(3, 2, 2);
  reference::add(sum, numbered(3, 3, 2));
  for (float v : sum.data) EXPECT_EQ(v, 0.0f);
}

TEST(PlaneOps, AddAccumulatesWithWrappedChannels) {
  Image colour = numbered(2, 2, 3);
  Image glow(2, 2, 1);
  glow.at(0, 1, 1) = 0.5f;
  reference::add(colour, glow);
  EXPECT_EQ(colour.at(0, 1, 1), 11.5f);
  EXPECT_EQ(colour.at(2, 1, 1), 211.5f);
  EXPECT_EQ(colour.at(1, 0, 0), 100.0f);

  reference::add_scaled(colour, glow, 4.0f);
  EXPECT_EQ(colour.at(1, 1, 1), 113.5f);
}

}  // namespace
}  // namespace neonvale

namespace neonvale {
namespace {

// Large blocks are kept after release and reused: a new image on reused
// storage must still read as all zeros, at the same size and a smaller one.
TEST(Image, ReusedLargeStorageReadsAsZero) {
  const float* first = nullptr;
  {
    Image dirty(1024, 1024, 3);  // 12 MiB: a mapped block
    first = dirty.data.data();
    for (float& v : dirty.data) v = 7.0f;
  }
  const Image same(1024, 1024, 3);
  EXPECT_EQ(same.data.data(), first);  // the kept block was handed out again
  bool zero = true;
  for (float v : same.data) zero = zero && v == 0.0f;
  EXPECT_TRUE(zero);
}

}  // namespace
}  // namespace neonvale
