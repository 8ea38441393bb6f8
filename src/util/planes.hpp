#pragma once
// Whole-plane copies split across threads, so fresh pages are first touched
// in parallel.
#include <initializer_list>

#include "image/image.hpp"

namespace neonvale {

// Plane target_plane of target becomes plane source_plane of source.
void copy_plane(Image& target, int target_plane, const Image& source, int source_plane);

// Plane i of `target` becomes plane planes[i] of `source` (same width and height).
void copy_planes(Image& target, const Image& source, std::initializer_list<int> planes);

// target += other, plane by plane (same size and channel count).
void add_planes(Image& target, const Image& other);

// An image of the given size built on the storage of `old`, an image that is
// no longer needed, when that storage is large enough. Its values are
// unspecified: for results whose every value is written before it is read.
// Reusing touched memory saves the page faults of fresh memory.
Image reuse_storage(Image&& old, int width, int height, int channels);

}  // namespace neonvale
