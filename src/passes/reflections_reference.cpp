#include "passes/reflections_reference.hpp"

#include "filters/value_noise_reference.hpp"
#include "maths/batch_math.hpp"
#include "passes/channels.hpp"
#include "passes/reflection_kernel.hpp"

namespace neonvale::reference {

namespace {

// Whole images, read as they are.
struct WholeImages {
  const Image* copy;
  const Image* snapshot;
  int width, height;

  float scene(int p, const PixelTaps& t) const { return copy->sample(kMirrored[p], t); }
  float backdrop(int p, const PixelTaps& t) const { return snapshot->sample(kMirrored[p], t); }
  float robot(const PixelTaps& t) const { return copy->sample(kRobot, t); }
};

}  // namespace

std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise) {
  float sine[4];
  ripple_phases(x, y, float(copy.width), sine);
  sines(sine, sine, 4);
  const WholeImages before{&copy, &snapshot, copy.width, copy.height};
  return reflect(before, ReflectInputs{x, y, rho, noise, copy.sample(kDepth, x, y, false), sine});
}

void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed) {
  const Image copy(scene);  // every read sees the scene as it was
  const Image noise = value_noise(scene.width, scene.height, seed, 1.0f);
  for (int y = 0; y < scene.height; ++y)
    for (int x = 0; x < scene.width; ++x) {
      const float rho = copy.at(kReflectivity, x, y);
      if (!(rho > 0.0f)) continue;
      const std::array<float, 4> out = reflect_pixel(copy, snapshot, float(x), float(y), rho, noise.at(0, x, y));
      for (int p = 0; p < 4; ++p) scene.at(kMirrored[p], x, y) = out[std::size_t(p)];
    }
}

}  // namespace neonvale::reference
