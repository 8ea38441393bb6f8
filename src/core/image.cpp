#include "core/image.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/image_planes.hpp"

namespace neonvale {

std::size_t checked_element_count(long long width, long long height, long long channels) {
  if (width < 0 || height < 0 || channels < 0)
    throw std::invalid_argument("image dimensions are negative");
  // Every byte of the image must be reachable by a pointer offset. Each
  // factor is below 2^63, so each test divides rather than multiplies.
  const long long most_values = PTRDIFF_MAX / static_cast<long long>(sizeof(float));
  const bool fits = width == 0 || height == 0 || channels == 0 ||
                    (height <= most_values / width && channels <= most_values / (width * height));
  if (!fits)
    throw std::length_error("image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                            " x " + std::to_string(channels) + " values cannot be indexed");
  return std::size_t(width * height * channels);
}

Image::Image(int w, int h, int c)
    : width(w), height(h), channels(c), data(checked_element_count(w, h, c)) {}

namespace {

// An image of the given size over `data`, which holds its values.
Image image_over(PlaneBuffer data, int width, int height, int channels) {
  Image image;
  image.data = std::move(data);
  image.width = width;
  image.height = height;
  image.channels = channels;
  return image;
}

}  // namespace

Image Image::sparse(int width, int height, int channels) {
  return image_over(PlaneBuffer::sparse(checked_element_count(width, height, channels)), width, height, channels);
}

Image Image::working(int width, int height, int channels) {
  return image_over(PlaneBuffer::working(checked_element_count(width, height, channels)), width, height, channels);
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

}  // namespace neonvale
