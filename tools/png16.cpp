#include "png16.hpp"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace neonvale::assets {

namespace {

// libpng jumps out of its error callback; write_rows's locals are all
// trivially destructible, the caller owns everything else.
struct PngError {
  std::jmp_buf jump;
};

void on_error(png_structp png, png_const_charp) {
  std::longjmp(static_cast<PngError*>(png_get_error_ptr(png))->jump, 1);
}
void on_warning(png_structp, png_const_charp) {}

bool write_rows(png_structp png, png_infop info, std::FILE* file, int width, int height, int channels, int level,
                png_bytepp rows, PngError* err) {
  if (setjmp(err->jump)) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 16,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

void save_png16(const std::vector<double>& values, int width, int height, int channels,
                const std::filesystem::path& path, int compression_level) {
  const std::size_t row_bytes = std::size_t(width) * std::size_t(channels) * 2;
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4) ||
      values.size() != std::size_t(width) * std::size_t(height) * std::size_t(channels))
    throw std::invalid_argument("Invalid output image dimensions");
  std::vector<png_byte> bytes(row_bytes * std::size_t(height));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto v = static_cast<std::uint16_t>(std::lround(std::clamp(values[i], 0.0, 1.0) * 65535.0));
    bytes[2 * i] = png_byte(v >> 8);  // PNG stores 16-bit samples big-endian
    bytes[2 * i + 1] = png_byte(v & 0xff);
  }
  std::vector<png_bytep> rows{std::size_t(height)};
  for (int y = 0; y < height; ++y) rows[std::size_t(y)] = bytes.data() + std::size_t(y) * row_bytes;

  const std::string name = path.string();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "wb"), std::fclose);
  if (!file) throw std::runtime_error("Cannot open output PNG: " + name);
  PngError err{};
  WriteStructs png;
  png.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, on_error, on_warning);
  if (png.png) png.info = png_create_info_struct(png.png);
  const bool ok = png.png && png.info &&
                  write_rows(png.png, png.info, file.get(), width, height, channels, compression_level, rows.data(), &err);
  if (!ok || std::fclose(file.release()) != 0) throw std::runtime_error("Cannot write output PNG: " + name);
}

void save_png16(const Image& image, const std::filesystem::path& path, int compression_level) {
  std::vector<double> values;
  values.reserve(image.data.size());
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < image.channels; ++c) values.push_back(double(image.at(c, x, y)));
  save_png16(values, image.width, image.height, image.channels, path, compression_level);
}

}  // namespace neonvale::assets
