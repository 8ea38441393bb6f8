#pragma once
// The plain box blur, which the blurs through a ring of rows are held to.
#include "core/image.hpp"

namespace neonvale::reference {

// The serial filter: horizontal sums into a temporary, vertical sums into the
// result, one scaling at the end. A negative radius acts as its magnitude.
Image box_blur(const Image& source, int radius);

}  // namespace neonvale::reference
