#pragma once
// Colour grading through a 3-D lookup cube stored as an s x (s*s) image of
// s red slices stacked top to bottom (row = green, column = blue).
#include <array>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

// The graded colour of (r, g, b): the cube's trilinear value there, each
// component clamped into the cube, NaN to its top.
std::array<float, 3> sample_color_grader(float r, float g, float b, const Image& grader);
// Grades every pixel of a 3-channel image in place. Throws
// std::invalid_argument, before anything is written, for a cube that is not
// s x (s * s) with s > 0 ("invalid color grader dimensions"), one with fewer
// than three channels ("invalid grader channel count") or an image without
// exactly three ("invalid image channel count").
void apply_color_grader(Image& image, const Image& grader, StepProgress* progress = nullptr);

}  // namespace neonvale
