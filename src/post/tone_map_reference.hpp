#pragma once
// The tone map of a whole image, for the tests and the fused tone map and
// downsample they hold to it.
#include "core/image.hpp"

namespace neonvale::reference {

// The first three planes of `colour` mapped into a new 3-channel image.
Image tone_map(const Image& colour);

}  // namespace neonvale::reference
