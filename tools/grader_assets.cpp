#include "grader_assets.hpp"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets.hpp"

namespace neonvale::assets {

namespace {

double smoothstep(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// libpng's error callback must not return: it jumps back into write_rows,
// whose locals are all trivially destructible.
struct ErrorJump {
  std::jmp_buf jump;
};

void on_error(png_structp png, png_const_charp) {
  std::longjmp(static_cast<ErrorJump*>(png_get_error_ptr(png))->jump, 1);
}
void on_warning(png_structp, png_const_charp) {}

bool write_rows(png_structp png, png_infop info, std::FILE* file, png_uint_32 width, png_uint_32 height,
                png_bytepp rows, ErrorJump* state) {
  if (setjmp(state->jump)) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

}  // namespace

std::array<float, 3> night_look(float r_in, float g_in, float b_in) {
  double c[3] = {std::clamp(double(r_in), 0.0, 1.0), std::clamp(double(g_in), 0.0, 1.0),
                 std::clamp(double(b_in), 0.0, 1.0)};

  // Gentle contrast: 12 % of a smoothstep per channel keeps 0, 0.5 and 1 fixed
  // and never clips.
  for (double& v : c) v = v * 0.88 + (v * v * (3.0 - 2.0 * v)) * 0.12;

  const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
  const double chroma = std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});

  // Saturation lift of up to 10 %, fading out as colours approach full
  // saturation so the neons neither clip nor shift.
  const double sat = 1.0 + 0.10 * (1.0 - chroma);
  for (double& v : c) v = std::clamp(luma + (v - luma) * sat, 0.0, 1.0);

  // Split toning on the weakly saturated colours only: the neon magenta and
  // azure have a chroma near 0.9 and pass almost untouched.
  const double neutral = 1.0 - smoothstep(0.3, 0.9, chroma);
  const double shadow = (1.0 - smoothstep(0.0, 0.55, luma)) * neutral;
  const double highlight = smoothstep(0.45, 1.0, luma) * neutral;
  // Teal shadows: less red, a faint green and blue lift that keeps black deep.
  c[0] *= 1.0 - 0.10 * shadow;
  c[1] += 0.008 * shadow * (1.0 - c[1]);
  c[2] += 0.018 * shadow * (1.0 - c[2]);
  // Warm highlights: lamplight amber in the brightest neutrals.
  c[0] += 0.035 * highlight * (1.0 - c[0]);
  c[1] += 0.010 * highlight * (1.0 - c[1]);
  c[2] *= 1.0 - 0.05 * highlight;

  return {float(std::clamp(c[0], 0.0, 1.0)), float(std::clamp(c[1], 0.0, 1.0)),
          float(std::clamp(c[2], 0.0, 1.0))};
}

Image identity_color_grader(int side) {
  Image grader(side, side * side, 3);
  const float m = float(side - 1 > 0 ? side - 1 : 1);
  for (int r = 0; r < side; ++r)
    for (int g = 0; g < side; ++g)
      for (int b = 0; b < side; ++b) {
        grader.at(0, b, side * r + g) = float(r) / m;
        grader.at(1, b, side * r + g) = float(g) / m;
        grader.at(2, b, side * r + g) = float(b) / m;
      }
  return grader;
}

Image night_color_grader(int side) {
  Image grader = identity_color_grader(side);
  for (int y = 0; y < grader.height; ++y)
    for (int x = 0; x < grader.width; ++x) {
      const std::array<float, 3> c = night_look(grader.at(0, x, y), grader.at(1, x, y), grader.at(2, x, y));
      for (int k = 0; k < 3; ++k) grader.at(k, x, y) = c[std::size_t(k)];
    }
  return grader;
}

void save_png16(const Image& image, const std::filesystem::path& path) {
  if (image.width <= 0 || image.height <= 0 || image.channels != 3)
    throw std::invalid_argument("Invalid output image dimensions");
  const std::size_t w = std::size_t(image.width), h = std::size_t(image.height);
  std::vector<png_byte> pixels(w * h * 6);
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const double v = std::clamp(double(image.at(c, int(x), int(y))), 0.0, 1.0);
        const unsigned q = unsigned(std::lround(v * 65535.0));
        png_byte* out = &pixels[((y * w + x) * 3 + std::size_t(c)) * 2];
        out[0] = png_byte(q >> 8);  // 16-bit samples are big-endian in PNG
        out[1] = png_byte(q & 0xffu);
      }
  std::vector<png_bytep> rows(h);
  for (std::size_t y = 0; y < h; ++y) rows[y] = pixels.data() + y * w * 6;

  const std::string name = path.string();
  ErrorJump state{};
  WriteStructs png;
  png.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, on_error, on_warning);
  if (png.png) png.info = png_create_info_struct(png.png);
  if (!png.png || !png.info) throw std::runtime_error("Cannot allocate PNG output");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "wb"));
  if (!file) throw std::runtime_error("Cannot open output PNG: " + name);
  const bool written = write_rows(png.png, png.info, file.get(), png_uint_32(w), png_uint_32(h), rows.data(), &state);
  if (!written || std::fclose(file.release()) != 0) throw std::runtime_error("Cannot write output PNG: " + name);
}

void write_color_grader(const std::filesystem::path& folder) {
  save_png16(night_color_grader(kGraderSide), folder / "color_grader.png");
}

}  // namespace neonvale::assets
