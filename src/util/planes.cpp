#include "util/planes.hpp"

#include <cstring>
#include <stdexcept>

#include "util/parallel.hpp"

namespace neonvale {

void copy_plane(Image& target, int target_plane, const Image& source, int source_plane) {
  if (target.width != source.width || target.height != source.height || target_plane >= target.channels ||
      source_plane >= source.channels)
    throw std::invalid_argument("plane copy between images of different sizes");
  const std::size_t stride = std::size_t(target.width);
  float* to = target.plane(target_plane);
  const float* from = source.plane(source_plane);
  parallel_for(target.height, [&](int begin, int end) {
    std::memcpy(to + std::size_t(begin) * stride, from + std::size_t(begin) * stride,
                std::size_t(end - begin) * stride * sizeof(float));
  });
}

void copy_planes(Image& target, const Image& source, std::initializer_list<int> planes) {
  int i = 0;
  for (int p : planes) copy_plane(target, i++, source, p);
}

void add_planes(Image& target, const Image& other) {
  if (target.width != other.width || target.height != other.height || target.channels != other.channels)
    throw std::invalid_argument("plane sum of images of different sizes");
  const std::size_t stride = std::size_t(target.width);
  parallel_for(target.height * target.channels, [&](int begin, int end) {
    float* t = target.data.data();
    const float* o = other.data.data();
    for (std::size_t i = std::size_t(begin) * stride; i < std::size_t(end) * stride; ++i) t[i] += o[i];
  });
}

Image reuse_storage(Image&& old, int width, int height, int channels) {
  const std::size_t count = checked_element_count(width, height, channels);
  if (old.data.capacity() < count) {
    old = Image();
    return Image(width, height, channels);
  }
  Image image;
  image.data = std::move(old.data);
  old = Image();
  image.data.resize(count);
  image.width = width;
  image.height = height;
  image.channels = channels;
  return image;
}

}  // namespace neonvale
