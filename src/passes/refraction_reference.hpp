#pragma once
// The refraction on a whole 12-channel scene buffer, and of one pixel, for
// the tests; the renderer refracts a band of rows at a time (refract_rows).
#include <array>

#include "core/image.hpp"

namespace neonvale::reference {

// New colour R, G, B and emission of pixel (x, y), whose colour is c0, c1,
// c2 and emission e; a, ox, oy and b are its water, offsets and drop
// coverage (channels kWater, kOffsetX, kOffsetY and kDrop). `copy` holds the
// scene's colour as it was before the pass in planes 0, 1 and 2.
std::array<float, 4> refract_pixel(const Image& copy, int x, int y, float c0, float c1, float c2, float e, float a,
                                   float ox, float oy, float b);
// Every pixel of a 12-channel image takes refract_pixel's colour and
// emission, every read of colour going to the scene as it was.
void refract(Image& scene);

}  // namespace neonvale::reference
