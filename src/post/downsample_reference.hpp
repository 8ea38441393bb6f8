#pragma once
// The antialias reduction of a whole image, for the tests.
#include "core/image.hpp"

namespace neonvale::reference {

// `factor` (a power of two) halvings, each averaging 2 x 2 blocks. Throws
// std::invalid_argument for a factor below 1 and std::runtime_error for one
// that is not a power of two or a size that does not halve.
Image downsample(const Image& image, int factor);

}  // namespace neonvale::reference
