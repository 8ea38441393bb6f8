#include "image/plane_allocator.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace neonvale {

namespace {

std::size_t mapped_size(std::size_t bytes) {
  return (bytes + kPlaneAlignment - 1) / kPlaneAlignment * kPlaneAlignment;
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
  // Fresh anonymous mappings are zero-filled by the kernel. Map one alignment
  // unit more than needed and trim both ends, so the block starts on a 2 MiB
  // boundary and spans whole huge pages; what stays mapped is exactly
  // [block, block + mapped_size(bytes)), which release_planes unmaps.
  const std::size_t size = mapped_size(bytes);
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

void release_planes(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (bytes == 0) bytes = 1;
  if (bytes < kMappedPlaneThreshold) {
    std::free(p);
    return;
  }
  munmap(p, mapped_size(bytes));
}

}  // namespace neonvale
