#pragma once
// The plain reflections, which the tests hold the renderer's in-place pass
// to: every read goes to a whole copy of the scene and a whole snapshot of
// the backdrop, every pixel in storage order, one thread.
#include <array>
#include <cstdint>

#include "core/image.hpp"

namespace neonvale::reference {

// New colour R, G, B and emission of the reflective pixel (x, y) of `copy`
// (the scene as it was before the pass, 12 channels, depth included), with
// reflectivity `rho` and ripple noise `noise`; `snapshot` holds the backdrop
// in planes 0 to 4.
std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise);

// Every pixel of reflectivity above 0 takes reflect_pixel's colour and
// emission, with the ripple noise of `seed`.
void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed);

}  // namespace neonvale::reference
