#pragma once
// box_blur: the one filter the passes share. Each sample becomes the mean of
// the (2R+1) x (2R+1) samples of its channel centred on it, edges clamped,
// computed separably with running sums so the cost does not grow with R.
#include <cstddef>

#include "core/image.hpp"

namespace neonvale {

// The plain serial filter: horizontal sums into a temporary, vertical sums
// into the result, one scaling at the end.
Image box_blur(const Image& source, int radius);
// The same values written over `image`, with the rows and the column strips
// split across threads; the renderer's blurs run this one.
void box_blur_in_place(Image& image, int radius);

// Box sums of one run of n floats, clamped at both ends.
void box_sum_row(const float* in, float* out, int n, int radius);
// The same down the columns of a w x h plane, one whole row at a time.
void box_sum_columns(const float* in, float* out, int w, int h, int radius);
// The same over n columns of a plane whose rows lie `stride` floats apart.
void box_sum_columns_strided(const float* in, float* out, int n, std::size_t stride, int h, int radius);
void add_row(const float* in, float* out, int n);
void subtract_row(const float* in, float* out, int n);

}  // namespace neonvale
