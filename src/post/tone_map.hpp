#pragma once
// Global photographic tone mapping keyed to the log-average luminance, then a
// display gamma and an S-shaped contrast curve. Output samples lie in [0, 1].
#include "image/image.hpp"

namespace neonvale {

Image tone_map(const Image& colour);

}  // namespace neonvale
