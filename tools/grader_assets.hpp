#pragma once
// The colour-grader piece of the asset generator: the look baked into
// color_grader.png, the cube built from it, and a 16-bit PNG writer so the
// cube stores smooth steps (the renderer's own writer is 8-bit only).
#include <array>
#include <filesystem>

#include "image/image.hpp"

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

// Writes a 3-channel image as a 16-bit RGB PNG, values clamped to [0, 1] and
// rounded to the nearest of 65536 levels. Throws std::runtime_error on failure.
void save_png16(const Image& image, const std::filesystem::path& path);

}  // namespace neonvale::assets
