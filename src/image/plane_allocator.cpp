#include "image/plane_allocator.hpp"

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace neonvale {

namespace {

std::size_t mapped_size(std::size_t bytes) {
  return (bytes + kPlaneAlignment - 1) / kPlaneAlignment * kPlaneAlignment;
}

// Large blocks are kept after release and handed out again. Memory the
// process has touched once is much cheaper to clear than fresh pages, whose
// first touch costs a page fault and the kernel's own clearing (on a virtual
// machine, the host's too). A request takes the smallest kept block that
// holds it without wasting more than its own size; a request that no kept
// block fits releases them all first, so kept blocks never pile up beside
// fresh ones and the peak stays what the live images need.
struct BlockPool {
  std::mutex mutex;
  std::vector<std::pair<void*, std::size_t>> kept;   // released blocks and their mapped sizes
  std::unordered_map<void*, std::size_t> live;       // mapped size of every block in use
  std::size_t kept_bytes = 0;
};

BlockPool& pool() {
  static BlockPool* blocks = new BlockPool;  // never destroyed: images may outlive static destruction
  return *blocks;
}

constexpr std::size_t kMaxKeptBytes = std::size_t(2) << 30;

// Clears a reused block, split across threads for large blocks.
void clear_block(void* p, std::size_t bytes) {
  constexpr std::size_t kChunk = std::size_t(8) << 20;
  const long long chunks = static_cast<long long>((bytes + kChunk - 1) / kChunk);
  if (chunks < 8 || omp_in_parallel()) {
    std::memset(p, 0, bytes);
    return;
  }
  char* base = static_cast<char*>(p);
#pragma omp parallel for schedule(static)
  for (long long i = 0; i < chunks; ++i) {
    const std::size_t begin = std::size_t(i) * kChunk;
    std::memset(base + begin, 0, std::min(kChunk, bytes - begin));
  }
}

void* map_block(std::size_t size) {
  const std::size_t reserve = size + kPlaneAlignment;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kPlaneAlignment - 1) / kPlaneAlignment * kPlaneAlignment;
  const std::size_t head = aligned - start;
  const std::size_t tail = reserve - head - size;
  if (head) munmap(raw, head);
  if (tail) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
  madvise(block, size, MADV_HUGEPAGE);  // a hint; without huge pages it still works
  return block;
}

}  // namespace

void* allocate_zeroed_planes(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (bytes < kMappedPlaneThreshold) {
    void* p = std::calloc(1, bytes);
    if (!p) throw std::bad_alloc();
    return p;
  }
  // Leave room for rounding and alignment without wrapping around.
  if (bytes > SIZE_MAX - 2 * kPlaneAlignment) throw std::bad_alloc();
  // Fresh anonymous mappings are zero-filled by the kernel. A block is mapped
  // with one alignment unit to spare and trimmed at both ends, so it starts
  // on a 2 MiB boundary and spans whole huge pages.
  const std::size_t size = mapped_size(bytes);
  BlockPool& blocks = pool();
  std::vector<std::pair<void*, std::size_t>> unfit;
  {
    std::lock_guard<std::mutex> lock(blocks.mutex);
    auto best = blocks.kept.end();
    for (auto it = blocks.kept.begin(); it != blocks.kept.end(); ++it)
      if (it->second >= size && it->second / 2 <= size && (best == blocks.kept.end() || it->second < best->second))
        best = it;
    if (best != blocks.kept.end()) {
      const auto [block, block_size] = *best;
      blocks.kept.erase(best);
      blocks.kept_bytes -= block_size;
      blocks.live[block] = block_size;
      clear_block(block, bytes);
      return block;
    }
    unfit.swap(blocks.kept);
    blocks.kept_bytes = 0;
  }
  for (const auto& [block, block_size] : unfit) munmap(block, block_size);
  void* block = map_block(size);
  std::lock_guard<std::mutex> lock(blocks.mutex);
  try {
    blocks.live[block] = size;
  } catch (...) {
    munmap(block, size);
    throw;
  }
  return block;
}

void release_planes(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (bytes == 0) bytes = 1;
  if (bytes < kMappedPlaneThreshold) {
    std::free(p);
    return;
  }
  BlockPool& blocks = pool();
  std::lock_guard<std::mutex> lock(blocks.mutex);
  const auto it = blocks.live.find(p);
  const std::size_t size = it != blocks.live.end() ? it->second : mapped_size(bytes);
  if (it != blocks.live.end()) blocks.live.erase(it);
  try {
    if (blocks.kept_bytes + size <= kMaxKeptBytes) {
      blocks.kept.emplace_back(p, size);
      blocks.kept_bytes += size;
      return;
    }
  } catch (...) {
  }
  munmap(p, size);
}

}  // namespace neonvale
