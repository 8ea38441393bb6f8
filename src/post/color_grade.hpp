#pragma once
// Colour grading through a 3-D lookup cube stored as an s x (s*s) image of
// s red slices stacked top to bottom (row = green, column = blue).
#include <array>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

std::array<float, 3> sample_color_grader(float r, float g, float b, const Image& grader);
Image apply_color_grader(const Image& image, const Image& grader, StepProgress* progress = nullptr);
// The same over the image itself, which the renderer no longer needs as it was.
void apply_color_grader_in_place(Image& image, const Image& grader, StepProgress* progress = nullptr);

}  // namespace neonvale
