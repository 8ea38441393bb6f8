#include "core/plane_buffer.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

constexpr std::size_t kAlignment = std::size_t(2) << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }

struct LiveBlock {
  std::size_t size;  // mapped bytes
  bool sparse;       // returned to the system on release, never kept
};

struct BlockPool {
  std::mutex mutex;
  std::vector<std::pair<void*, std::size_t>> kept;  // released blocks and their mapped sizes
  std::unordered_map<void*, LiveBlock> live;        // every large block in use
  PlaneMemory bytes;

  void add_live(std::size_t size) {
    bytes.live += size;
    bytes.high_water = std::max(bytes.high_water, bytes.live);
  }
};

BlockPool& pool() {
  static BlockPool* blocks = new BlockPool;  // never destroyed: images may outlive static destruction
  return *blocks;
}

// A fresh block of `size` bytes (a multiple of the alignment), 2 MiB aligned:
// mapped with one alignment unit to spare and trimmed at both ends.
void* map_block(std::size_t size, bool sparse) {
  const std::size_t reserve = size + kAlignment;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kAlignment - 1) / kAlignment * kAlignment;
  const std::size_t head = aligned - start;
  const std::size_t tail = reserve - head - size;
  if (head) munmap(raw, head);
  if (tail) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
  // A hint either way; without huge pages it still works.
  madvise(block, size, sparse ? MADV_NOHUGEPAGE : MADV_HUGEPAGE);
  return block;
}

// Clears a reused block in slices across the threads.
void clear_block(void* block, std::size_t bytes) {
  constexpr std::size_t kSlice = std::size_t(8) << 20;
  char* base = static_cast<char*>(block);
  const int slices = int((bytes + kSlice - 1) / kSlice);
  parallel_for(slices, [&](int begin, int end) {
    const std::size_t from = std::size_t(begin) * kSlice;
    std::memset(base + from, 0, std::min(std::size_t(end - begin) * kSlice, bytes - from));
  });
}

// Faults in the pages of a fresh block, a slice of whole huge pages per
// thread. The kernel clears every page it hands out; here the threads clear
// different pages at once, where a loop that writes rows or column strips
// would have them queue for the same huge page one after the other.
void touch_block(void* block, std::size_t bytes) {
  constexpr std::size_t kSlice = std::size_t(8) << 20;
  constexpr std::size_t kPage = 4096;
  volatile char* base = static_cast<char*>(block);
  const int slices = int((bytes + kSlice - 1) / kSlice);
  parallel_for(slices, [&](int begin, int end) {
    const std::size_t to = std::min(std::size_t(end) * kSlice, bytes);
    for (std::size_t at = std::size_t(begin) * kSlice; at < to; at += kPage) base[at] = 0;
  });
}

// Maps a fresh block for `bytes` and records it as live.
void* map_live_block(std::size_t bytes, bool sparse) {
  const std::size_t size = mapped_size(bytes);
  void* block = map_block(size, sparse);
  if (!sparse) touch_block(block, bytes);
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  try {
    blocks.live[block] = LiveBlock{size, sparse};
  } catch (...) {
    munmap(block, size);
    throw;
  }
  blocks.add_live(bytes);
  return block;
}

void release_large(void* block, std::size_t bytes) noexcept {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  const auto it = blocks.live.find(block);
  if (it == blocks.live.end()) return;  // cannot happen: every large block is registered
  const LiveBlock released = it->second;
  const std::size_t size = released.size;
  blocks.live.erase(it);
  blocks.bytes.live -= bytes;
  if (released.sparse) {
    munmap(block, size);
    return;
  }
  try {
    blocks.kept.emplace_back(block, size);
    blocks.bytes.kept += size;
  } catch (...) {
    munmap(block, size);
  }
}

void* allocate_large(std::size_t bytes) {
  // Leave room for rounding and alignment without wrapping around.
  if (bytes > SIZE_MAX - 2 * kAlignment) throw std::bad_alloc();
  const std::size_t size = mapped_size(bytes);
  BlockPool& blocks = pool();
  std::vector<std::pair<void*, std::size_t>> unfit;
  void* reused = nullptr;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    auto best = blocks.kept.end();
    for (auto it = blocks.kept.begin(); it != blocks.kept.end(); ++it)
      if (it->second >= size && (best == blocks.kept.end() || it->second < best->second)) best = it;
    if (best != blocks.kept.end()) {
      const auto [block, block_size] = *best;
      blocks.kept.erase(best);
      blocks.bytes.kept -= block_size;
      // The surplus goes back to the system, so a big block serving a small
      // request does not hold memory nobody uses.
      if (block_size > size) munmap(static_cast<char*>(block) + size, block_size - size);
      blocks.live[block] = LiveBlock{size, false};
      blocks.add_live(bytes);
      reused = block;
    } else {
      unfit.swap(blocks.kept);
      blocks.bytes.kept = 0;
    }
  }
  if (reused) {
    clear_block(reused, bytes);
    return reused;
  }
  for (const auto& [block, block_size] : unfit) munmap(block, block_size);
  return map_live_block(bytes, false);
}

float* allocate_zeroed(std::size_t count) {
  if (count > SIZE_MAX / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(float);
  if (bytes >= kMappedBlockThreshold) return static_cast<float*>(allocate_large(bytes));
  void* p = std::calloc(count, sizeof(float));
  if (!p) throw std::bad_alloc();
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.add_live(bytes);
  return static_cast<float*>(p);
}

void release(float* data, std::size_t count) noexcept {
  const std::size_t bytes = count * sizeof(float);
  if (bytes >= kMappedBlockThreshold) return release_large(data, bytes);
  std::free(data);
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.bytes.live -= bytes;
}

}  // namespace

PlaneBuffer::PlaneBuffer(std::size_t count) : data_(count ? allocate_zeroed(count) : nullptr), size_(count) {}

PlaneBuffer PlaneBuffer::sparse(std::size_t count) {
  if (count > (SIZE_MAX - 2 * kAlignment) / sizeof(float)) throw std::bad_alloc();
  const std::size_t bytes = count * sizeof(float);
  if (bytes < kMappedBlockThreshold) return PlaneBuffer(count);
  PlaneBuffer buffer;
  buffer.data_ = static_cast<float*>(map_live_block(bytes, true));
  buffer.size_ = count;
  return buffer;
}

PlaneBuffer::~PlaneBuffer() {
  if (data_) release(data_, size_);
}

PlaneBuffer::PlaneBuffer(PlaneBuffer&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

PlaneBuffer& PlaneBuffer::operator=(PlaneBuffer&& other) noexcept {
  if (this != &other) {
    if (data_) release(data_, size_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

PlaneBuffer PlaneBuffer::copy_of(const PlaneBuffer& other) {
  PlaneBuffer copy(other.size_);
  // The fresh storage holds zeros; one copy writes each value once.
  if (copy.size_) std::memcpy(copy.data_, other.data_, copy.size_ * sizeof(float));
  return copy;
}

bool operator==(const PlaneBuffer& a, const PlaneBuffer& b) {
  return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_ * sizeof(float)) == 0);
}

PlaneMemory plane_memory() {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  return blocks.bytes;
}

void reset_plane_high_water() {
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  blocks.bytes.high_water = blocks.bytes.live;
}

void release_kept_planes() {
  BlockPool& blocks = pool();
  std::vector<std::pair<void*, std::size_t>> kept;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    kept.swap(blocks.kept);
    blocks.bytes.kept = 0;
  }
  for (const auto& [block, size] : kept) munmap(block, size);
}

}  // namespace neonvale
