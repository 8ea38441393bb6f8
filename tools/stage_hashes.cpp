// stage_hashes: renders like neonvale (same five flags) and prints, after
// every step of the scene driver, one line per channel of the image that step
// produced: "<stage> <channel> <hash> <min> <max> <mean>", or "<stage>
// <channel> none" for a plane the renderer does not hold then. The hash is 64-bit
// FNV-1a over the channel's floats as little-endian bytes in storage order, so
// a change to any pass shows up at the first stage it touches.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "scene/scene.hpp"

namespace {

std::uint64_t fnv1a(const float* values, std::size_t count) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, &values[i], sizeof bits);
    for (int b = 0; b < 4; ++b) {
      hash ^= (bits >> (8 * b)) & 0xffu;
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

void print_stage(const char* stage, const neonvale::ImagePlanes& image) {
  const std::size_t n = image.plane_size();
  for (int c = 0; c < image.channels; ++c) {
    const float* p = image[c];
    if (!p) {
      // The renderer holds no such plane at this point (never made, or
      // released after its last reader).
      std::printf("%s %d none\n", stage, c);
      continue;
    }
    float lo = n ? p[0] : 0.0f, hi = n ? p[0] : 0.0f;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      lo = p[i] < lo ? p[i] : lo;
      hi = p[i] > hi ? p[i] : hi;
      sum += p[i];
    }
    std::printf("%s %d %016" PRIx64 " %.9g %.9g %.9g\n", stage, c, fnv1a(p, n), double(lo), double(hi),
                n ? sum / double(n) : 0.0);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace neonvale;
  Config config;
  if (!parse_or_print_usage(argc, argv, config)) return 1;
  try {
    check_settings(config);
    RenderObserver observer;
    observer.stage_end = print_stage;
    render_scene(render_settings(config), load_scene_assets(asset_folder()), &observer);
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
