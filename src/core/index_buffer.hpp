#pragma once
// IndexBuffer: unsigned 32-bit indices held in plane storage, for lists that
// grow with the image (the pixels a pass will visit, grouped for a later
// sweep): they count with the images' memory and its high-water mark, and
// their blocks are kept and reused as the images' are. All zero when made.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/plane_buffer.hpp"

namespace neonvale {

class IndexBuffer {
 public:
  IndexBuffer() = default;
  // `count` zeros. Throws std::bad_alloc.
  explicit IndexBuffer(std::size_t count) : storage_(count) {}

  std::size_t size() const { return storage_.size(); }
  // Each index lives in the four bytes of one float of the storage, copied
  // in and out as bytes.
  std::uint32_t operator[](std::size_t i) const {
    std::uint32_t value;
    std::memcpy(&value, storage_.data() + i, sizeof value);
    return value;
  }
  void set(std::size_t i, std::uint32_t value) { std::memcpy(storage_.data() + i, &value, sizeof value); }

 private:
  static_assert(sizeof(float) == sizeof(std::uint32_t), "an index takes the place of one float");
  PlaneBuffer storage_;
};

}  // namespace neonvale
