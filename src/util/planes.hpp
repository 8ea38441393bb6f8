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

}  // namespace neonvale
