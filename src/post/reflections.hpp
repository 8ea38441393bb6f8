#pragma once
// Pass E: reflective pixels mirror the backdrop and the live scene with ripples.
#include <array>
#include <cstdint>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// New colour R, G, B and emission of one reflective pixel.
std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise);
void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale
