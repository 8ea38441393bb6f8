#pragma once
// The colour-grader piece of the asset generator: the look baked into
// color_grader.png and the cube built from it.
#include <array>
#include <filesystem>

#include "core/image.hpp"

namespace neonvale::assets {

// Side of the shipped cube. Odd, so 0.5 falls exactly on a lattice point.
constexpr int kGraderSide = 33;

// The "night" look for one display-range colour in [0, 1]: a gentle per-channel
// S-curve, a saturation lift that eases off for already saturated colours,
// teal shadows and warm highlights applied only to weakly saturated colours,
// so the neon magenta and azure keep their hue. Returns values in [0, 1].
std::array<float, 3> night_look(float r, float g, float b);

// A cube of the given side (at least 2) holding night_look at every lattice point.
Image night_color_grader(int side);

}  // namespace neonvale::assets
