#pragma once
// Whole-image operations that the plain passes and the tests are built from,
// and that the renderer does without: copies and sums of planes paired by
// channel, and resampling.
#include <algorithm>

#include "core/image.hpp"

namespace neonvale::reference {

// The plane pairing of the operations below: op(i, j) for every plane i of
// `target`, with j = i mod source.channels; when the sizes differ, or the
// source has no planes, the target is zero-filled instead.
template <class Op>
void pair_planes(Image& target, const Image& source, Op&& op) {
  if (target.width != source.width || target.height != source.height || source.channels <= 0) {
    std::fill(target.data.begin(), target.data.end(), 0.0f);
    return;
  }
  for (int i = 0; i < target.channels; ++i) op(i, i % source.channels);
}

// Plane i of target becomes plane i mod source.channels of source.
void copy_channels(Image& target, const Image& source);
// Like copy_channels, but adds.
void add(Image& target, const Image& other);
// target += factor * source, sample by sample (the product first), planes
// paired as by copy_channels.
void add_scaled(Image& target, const Image& source, float factor);

// Plane target_plane of target becomes plane source_plane of source, split
// across threads so fresh pages are first touched in parallel. Throws
// std::invalid_argument unless both images have the same width and height.
void copy_plane(Image& target, int target_plane, const Image& source, int source_plane);

// Corner-aligned resampling to a new size, every value taken with `sample`.
Image resample(const Image& source, int new_width, int new_height, bool smooth);

}  // namespace neonvale::reference
