// Fuzzes load_png with arbitrary file contents. The input is written to a
// temporary file so that exactly the program's own loading path runs. A load
// must either return a sound image or throw std::runtime_error; anything else
// (a crash, another exception, a sanitizer report, a leak) is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "image/png_io.hpp"

namespace {

std::string input_path;

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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed /dev/shm where there is one: rewriting a file on a disk
  // file system can wait for write-back and slows the fuzzer tenfold.
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
  input_path = folder + "/neonvale-png-fuzz-" + std::to_string(::getpid()) + ".png";
  std::atexit([] { std::remove(input_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (header_too_large(data, size)) return -1;  // -1: not added to the corpus
  std::FILE* f = std::fopen(input_path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  try {
    const neonvale::Image image = neonvale::load_png(input_path);
    if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4) ||
        image.data.size() != image.plane_size() * std::size_t(image.channels))
      std::abort();
    for (float v : image.data)
      if (!(v >= 0.0f && v <= 1.0f)) std::abort();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
