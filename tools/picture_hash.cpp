// picture_hash: prints a 64-bit FNV-1a hash of the pixel values of each PNG
// named on the command line, as load_png reads them, so that two encodings
// of the same picture (by different builds) compare equal.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>

#include "io/png_io.hpp"

int main(int argc, char** argv) {
  try {
    for (int i = 1; i < argc; ++i) {
      const neonvale::Image image = neonvale::load_png(argv[i]);
      std::uint64_t hash = 14695981039346656037ull;
      for (float v : image.data) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int b = 0; b < 4; ++b) {
          hash ^= (bits >> (8 * b)) & 0xffu;
          hash *= 1099511628211ull;
        }
      }
      std::printf("%016" PRIx64 " %dx%dx%d %s\n", hash, image.width, image.height, image.channels, argv[i]);
    }
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
