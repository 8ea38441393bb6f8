#include "core/image.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/image_planes.hpp"
#include "core/parallel.hpp"

namespace neonvale {

std::size_t checked_element_count(long long width, long long height, long long channels) {
  if (width < 0 || height < 0 || channels < 0)
    throw std::invalid_argument("image dimensions are negative");
  // Each factor is below 2^31, so the product of the first two fits 64 bits;
  // stop before the third can overflow.
  const long long pixels = width * height;
  if (pixels > INT_MAX || (channels != 0 && pixels * channels > INT_MAX))
    throw std::length_error("image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                            " x " + std::to_string(channels) + " values exceed 2^31 - 1");
  return std::size_t(pixels * channels);
}

Image::Image(int w, int h, int c)
    : width(w), height(h), channels(c), data(checked_element_count(w, h, c)) {}

Image Image::sparse(int width, int height, int channels) {
  Image image;
  image.data = PlaneBuffer::sparse(checked_element_count(width, height, channels));
  image.width = width;
  image.height = height;
  image.channels = channels;
  return image;
}

Image::Image(const Image& other)
    : width(other.width), height(other.height), channels(other.channels), data(PlaneBuffer::copy_of(other.data)) {}

Image::Image(Image&& other) noexcept
    : width(other.width), height(other.height), channels(other.channels), data(std::move(other.data)) {
  other.width = other.height = other.channels = 0;
}

Image& Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    width = other.width;
    height = other.height;
    channels = other.channels;
    data = std::move(other.data);  // releases this image's own storage
    // A moved-from image is an empty one, never dimensions without storage.
    other.width = other.height = other.channels = 0;
  }
  return *this;
}

std::vector<float*> Image::channel_pointers() {
  std::vector<float*> pointers(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c) pointers[std::size_t(c)] = plane(c);
  return pointers;
}

void Image::copy_channels(const Image& source) {
  pair_planes(*this, source, [&](int i, int j) { copy_plane(*this, i, source, j); });
}

void Image::add(const Image& other) {
  const std::size_t stride = std::size_t(width);
  pair_planes(*this, other, [&](int i, int j) {
    float* dst = plane(i);
    const float* src = other.plane(j);
    parallel_rows(height, width, [&](int begin, int end) {
      for (std::size_t k = std::size_t(begin) * stride; k < std::size_t(end) * stride; ++k) dst[k] += src[k];
    });
  });
}

void add_scaled(Image& destination, const Image& source, float factor) {
  const std::size_t n = destination.plane_size();
  pair_planes(destination, source, [&](int i, int j) {
    float* dst = destination.plane(i);
    const float* src = source.plane(j);
    for (std::size_t k = 0; k < n; ++k) dst[k] += src[k] * factor;
  });
}

ImagePlanes planes_of(Image& image) {
  if (image.channels > kMaxPlanes) throw std::invalid_argument("too many planes for a plane view");
  ImagePlanes view;
  view.width = image.width;
  view.height = image.height;
  view.channels = image.channels;
  for (int c = 0; c < image.channels; ++c) view.planes[std::size_t(c)] = image.plane(c);
  return view;
}

ImagePlanes planes_of(const Image& image) { return planes_of(const_cast<Image&>(image)); }

Image resample(const Image& source, int new_width, int new_height, bool smooth) {
  Image out(new_width, new_height, source.channels);
  const float wden = float(new_width) - 1.0f;
  const float hden = float(new_height) - 1.0f;
  const float sw = float(source.width - 1);
  const float sh = float(source.height - 1);
  for (int c = 0; c < source.channels; ++c) {
    float* dst = out.plane(c);
    for (int j = 0; j < new_height; ++j) {
      const float y = sh * (float(j) / hden);
      for (int k = 0; k < new_width; ++k) {
        const float x = (float(k) / wden) * sw;
        dst[std::size_t(j) * std::size_t(new_width) + std::size_t(k)] = source.sample(c, x, y, smooth);
      }
    }
  }
  return out;
}

void copy_plane(Image& target, int target_plane, const Image& source, int source_plane) {
  if (target.width != source.width || target.height != source.height || target_plane >= target.channels ||
      source_plane >= source.channels)
    throw std::invalid_argument("plane copy between images of different sizes");
  const std::size_t stride = std::size_t(target.width);
  float* to = target.plane(target_plane);
  const float* from = source.plane(source_plane);
  parallel_rows(target.height, target.width, [&](int begin, int end) {
    std::memcpy(to + std::size_t(begin) * stride, from + std::size_t(begin) * stride,
                std::size_t(end - begin) * stride * sizeof(float));
  });
}

}  // namespace neonvale
