#pragma once
// Rain on the lens in one step: the droplets pass and the refraction, fused.
// The scene's rows are taken a band at a time; each band's rain is painted
// into small planes of its own and refracted at once, so the rain never needs
// planes of the scene's size.
#include <cstddef>
#include <cstdint>

#include "core/image_planes.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// Rows in one band of paint_droplets_and_refract.
constexpr int kRainBandRows = 8;

// Floats of the rain of one band: four planes of kRainBandRows rows of
// `width` samples. paint_droplets_and_refract holds one per thread at work.
constexpr std::size_t rain_band_floats(int width) { return std::size_t(4) * kRainBandRows * std::size_t(width); }

// reference::paint_droplets followed by reference::refract, on planes kRed,
// kGreen, kBlue and kEmission of `scene`: these planes end bit for bit as
// the two passes leave them on a 12-plane buffer, at every thread count. No other plane is
// read or written, so the others may be null. Besides the rain's streaks and
// drops (a few kB), it holds copies of the colour as it was where later
// reads need it, rain_scratch_floats(width, height, seed) floats, and
// rain_band_floats(width) per thread. Counts the scene's rows in `progress`.
void paint_droplets_and_refract(const ImagePlanes& scene, std::uint32_t seed, StepProgress* progress = nullptr);

// The floats of the copies paint_droplets_and_refract keeps for a scene of this size.
std::size_t rain_scratch_floats(int width, int height, std::uint32_t seed);

}  // namespace neonvale
