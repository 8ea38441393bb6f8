#pragma once
// Storage for image planes. Images are big (the default scene buffer is 1.6 GB)
// and every new image must read as zeros, so instead of writing zeros into
// freshly mapped pages we take memory that is already zero (calloc for small
// blocks, a fresh anonymous mapping for large ones) and make the vector's
// value-initialisation a no-op. Large blocks are aligned to 2 MiB and ask for
// transparent huge pages, which cuts the cost of first-touch page faults.
//
// The no-op value-initialisation is only correct while memory between size()
// and capacity() is still untouched, so PlaneStorage zero-fills whatever a
// resize or an argument-less emplace adds; a plain vector would hand back the
// stale values of a shrink.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace neonvale {

// Blocks of at least this size are mapped directly and 2 MiB aligned.
constexpr std::size_t kMappedPlaneThreshold = std::size_t(4) << 20;
constexpr std::size_t kPlaneAlignment = std::size_t(2) << 20;

// Zero-filled memory of at least `bytes`; throws std::bad_alloc.
void* allocate_zeroed_planes(std::size_t bytes);
// Releases a block of allocate_zeroed_planes, given the same byte count.
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

// A vector of floats on PlaneAllocator. `PlaneStorage(n)` is n zeros without
// touching a page; every other member behaves as std::vector's.
class PlaneStorage : public std::vector<float, PlaneAllocator<float>> {
  using Base = std::vector<float, PlaneAllocator<float>>;

 public:
  using Base::Base;
  using Base::operator=;

  void resize(size_type n) { resize(n, 0.0f); }
  void resize(size_type n, float value) { Base::resize(n, value); }

  template <class... Args>
  reference emplace_back(Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      return Base::emplace_back(0.0f);
    else
      return Base::emplace_back(std::forward<Args>(args)...);
  }
  template <class... Args>
  iterator emplace(const_iterator position, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      return Base::emplace(position, 0.0f);
    else
      return Base::emplace(position, std::forward<Args>(args)...);
  }
};

}  // namespace neonvale
