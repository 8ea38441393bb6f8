#pragma once
// Pass F: lens water made visible: refraction, streak light, the inverted
// image inside drops and the water's emission.
#include <array>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// New colour R, G, B and emission of one pixel. a, ox, oy and b are the
// pixel's channels 8, 6, 7 and 11.
std::array<float, 4> droplet_pixel(const Image& copy, int x, int y, float c0, float c1, float c2, float e,
                                   float a, float ox, float oy, float b);
void apply_droplets(Image& scene, StepProgress* progress = nullptr);

// apply_droplets for the rows [y0, y0 + water.height) of `scene`, in place:
// writes planes kRed, kGreen, kBlue and kEmission of those rows and reads no
// other plane of `scene`. `before` holds planes kRed, kGreen and kBlue of the
// scene's colour as it was before any row was refracted, at the scene's
// size. `water` holds planes kOffsetX, kOffsetY, kWater and kDrop of just
// these rows (its row r is row y0 + r of the scene), as paint_rain_rows
// leaves them. Every pixel ends with the values apply_droplets gives it,
// provided the colour is finite and not negative and no water or drop value
// is -0 (painted ones never are).
void refract_rows(const ImagePlanes& scene, const ImagePlanes& before, const ImagePlanes& water, int y0);

}  // namespace neonvale
