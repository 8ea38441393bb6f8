// Fuzzes load_png with arbitrary file contents, decoded from memory through
// the same decoder the program's file loading uses. A load must either return
// a sound image or throw std::runtime_error; anything else (a crash, another
// exception, a sanitizer report, a leak) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "io/png_io.hpp"

namespace {

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Headers may promise up to 23170 x 23170 pixels, and a machine with enough
// memory passes the memory check and allocates gigabytes, which the fuzzer
// would report as an out-of-memory finding. Inputs whose header asks for more
// than 4 Mi pixels are therefore skipped; the tests cover the large headers.
bool header_too_large(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 8;
  while (at + 8 <= size) {
    const std::uint32_t length = be32(data + at);
    if (std::string(reinterpret_cast<const char*>(data + at + 4), 4) == "IHDR") {
      if (at + 16 > size) return false;
      return std::uint64_t(be32(data + at + 8)) * be32(data + at + 12) > (std::uint64_t(1) << 22);
    }
    at += 12 + std::size_t(length);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (header_too_large(data, size)) return -1;  // -1: not added to the corpus
  try {
    const neonvale::Image image = neonvale::load_png(data, size, "input.png");
    if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4) ||
        image.data.size() != image.plane_size() * std::size_t(image.channels))
      std::abort();
    for (float v : image.data)
      if (!(v >= 0.0f && v <= 1.0f)) std::abort();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
