#pragma once
// Antialias reduction by repeated 2 x 2 averaging.
#include "image/image.hpp"

namespace neonvale {

Image downsample(const Image& image, int factor);

}  // namespace neonvale
