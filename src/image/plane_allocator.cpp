#include "image/plane_allocator.hpp"

#include <sys/mman.h>

namespace neonvale {

namespace {
// Below this size calloc serves from the heap; above it, from fresh mappings.
constexpr std::size_t kMappedThreshold = std::size_t(4) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
}  // namespace

void* allocate_zeroed_planes(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (bytes < kMappedThreshold) {
    void* p = std::calloc(1, bytes);
    if (!p) throw std::bad_alloc();
    return p;
  }
  // Fresh anonymous mappings are zero-filled by the kernel; round up to whole
  // huge pages so the kernel can back the block with them.
  std::size_t mapped = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  madvise(p, mapped, MADV_HUGEPAGE);
  return p;
}

void release_planes(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (bytes == 0) bytes = 1;
  if (bytes < kMappedThreshold) {
    std::free(p);
    return;
  }
  std::size_t mapped = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  munmap(p, mapped);
}

}  // namespace neonvale
