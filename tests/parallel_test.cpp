#include "core/parallel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace neonvale {
namespace {

using test::Threads;

struct Visit {
  std::vector<int> hits;
  std::vector<std::pair<int, int>> ranges;
};

Visit visit(int count, int min_chunk) {
  Visit v;
  v.hits.assign(std::size_t(count > 0 ? count : 0), 0);
  std::mutex mutex;
  parallel_for(
      count,
      [&](int begin, int end) {
        std::lock_guard<std::mutex> lock(mutex);
        v.ranges.emplace_back(begin, end);
        for (int i = begin; i < end; ++i) ++v.hits[std::size_t(i)];
      },
      min_chunk);
  return v;
}

TEST(ParallelFor, VisitsEveryIndexOnceInNonEmptyRanges) {
  for (int threads : {1, 2, 3, 7}) {
    Threads use(threads);
    for (int count : {0, 1, 2, 3, 31, 97, 1001}) {
      for (int min_chunk : {1, 4, 50}) {
        const Visit v = visit(count, min_chunk);
        for (int i = 0; i < count; ++i) ASSERT_EQ(v.hits[std::size_t(i)], 1) << threads << " " << count << " " << i;
        for (const auto& [begin, end] : v.ranges) {
          EXPECT_LT(begin, end);
          // Only the range that ends the count may be shorter than the grain.
          if (end != count) {
            EXPECT_GE(end - begin, min_chunk);
          }
        }
      }
    }
  }
}

TEST(ParallelFor, ShortWorkIsNotSplit) {
  Threads use(4);
  EXPECT_EQ(visit(10, 16).ranges.size(), 1u);
  EXPECT_EQ(row_grain(64), 256);  // rows of 64 samples go 256 to a chunk
  EXPECT_EQ(row_grain(100000), 1);
  EXPECT_EQ(row_grain(0), 16384);
}

// The first chunk waits (up to a long while) for a chunk on another thread to
// start beside it; with a single thread at work it would wait in vain.
TEST(ParallelFor, UsesSeveralThreadsWhenAsked) {
  Threads use(3);
  std::atomic<int> started{0};
  std::atomic<bool> met{false};
  parallel_for(64, [&](int begin, int) {
    ++started;
    if (begin != 0) return;
    for (int i = 0; i < 10000 && !met; ++i) {
      if (started.load() > 1) met = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_TRUE(met.load());
}

TEST(ParallelFor, ALoopInsideALoopRunsOnItsThread) {
  Threads use(3);
  std::vector<int> hits(40, 0);
  parallel_for(4, [&](int begin, int end) {
    for (int outer = begin; outer < end; ++outer)
      parallel_for(10, [&](int b, int e) {
        for (int i = b; i < e; ++i) ++hits[std::size_t(outer * 10 + i)];
      });
  });
  for (int h : hits) EXPECT_EQ(h, 1);
}

TEST(ParallelFor, AnExceptionInTheBodyReachesTheCaller) {
  Threads use(3);
  EXPECT_THROW(parallel_for(100, [](int begin, int) {
                 if (begin == 0) throw std::runtime_error("stop");
               }),
               std::runtime_error);
  // The loop still works afterwards.
  EXPECT_EQ(visit(100, 1).hits, std::vector<int>(100, 1));
}

}  // namespace
}  // namespace neonvale
