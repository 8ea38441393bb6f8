#pragma once
// Antialias reduction by repeated 2 x 2 averaging.
#include "core/image.hpp"

namespace neonvale {

Image downsample(const Image& image, int factor);

}  // namespace neonvale
