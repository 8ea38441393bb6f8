#pragma once
// Storage for image planes. Images are big (the default scene buffer is 1.6 GB)
// and every new image must read as zeros, so instead of writing zeros into
// freshly mapped pages we take memory that is already zero (calloc, which maps
// new pages for large blocks) and make the vector's value-initialisation a
// no-op. Large blocks ask for transparent huge pages, which cuts the cost of
// first-touch page faults.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace neonvale {

void* allocate_zeroed_planes(std::size_t bytes);
void release_planes(void* p, std::size_t bytes) noexcept;

template <class T>
struct PlaneAllocator {
  static_assert(std::is_trivially_copyable_v<T>, "planes hold plain numbers");
  using value_type = T;

  PlaneAllocator() noexcept = default;
  template <class U>
  PlaneAllocator(const PlaneAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_zeroed_planes(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { release_planes(p, n * sizeof(T)); }

  // Value-initialisation leaves the (already zero) memory alone; copies still copy.
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const PlaneAllocator&, const PlaneAllocator&) noexcept { return true; }
  friend bool operator!=(const PlaneAllocator&, const PlaneAllocator&) noexcept { return false; }
};

}  // namespace neonvale
