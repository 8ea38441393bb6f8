#include "post/color_grade.hpp"

namespace neonvale {

// Not built yet: returns its input.
std::array<float, 3> sample_color_grader(float r, float g, float b, const Image&) { return {r, g, b}; }
Image apply_color_grader(const Image& image, const Image&) { return image; }

}  // namespace neonvale
