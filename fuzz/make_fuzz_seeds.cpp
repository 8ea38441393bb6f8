// Writes the seed corpora of the fuzz targets:
//   make_fuzz_seeds <folder>   (normally fuzz/corpus)
// png_load: tiny PNGs of every colour type and bit depth, some interlaced or
// with transparency; options: typical and broken command lines; color_grader:
// valid and malformed graders in the fuzzer's input layout.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "png_craft.hpp"

namespace fs = std::filesystem;
using neonvale::test::PngPicture;

namespace {

void write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A picture whose samples run through the whole range of the bit depth.
PngPicture picture(int width, int height, int bit_depth, int color_type, bool interlaced = false) {
  PngPicture p;
  p.width = width;
  p.height = height;
  p.bit_depth = bit_depth;
  p.color_type = color_type;
  p.interlaced = interlaced;
  const unsigned top = color_type == PNG_COLOR_TYPE_PALETTE ? 3u : (1u << bit_depth) - 1u;
  const std::size_t n = std::size_t(width) * std::size_t(height) * std::size_t(neonvale::test::channel_count(color_type));
  for (std::size_t i = 0; i < n; ++i) p.samples.push_back(unsigned(i * 2654435761u % (top + 1u)));
  if (color_type == PNG_COLOR_TYPE_PALETTE) p.palette = {{0, 0, 0}, {255, 0, 128}, {20, 200, 255}, {255, 255, 255}};
  return p;
}

void png_seeds(const fs::path& dir) {
  struct Seed {
    const char* name;
    PngPicture p;
  };
  std::vector<Seed> seeds = {
      {"gray1.png", picture(5, 3, 1, PNG_COLOR_TYPE_GRAY)},
      {"gray2_interlaced.png", picture(9, 9, 2, PNG_COLOR_TYPE_GRAY, true)},
      {"gray4.png", picture(3, 2, 4, PNG_COLOR_TYPE_GRAY)},
      {"gray8.png", picture(3, 2, 8, PNG_COLOR_TYPE_GRAY)},
      {"gray16.png", picture(3, 2, 16, PNG_COLOR_TYPE_GRAY)},
      {"gray_alpha8.png", picture(3, 2, 8, PNG_COLOR_TYPE_GRAY_ALPHA)},
      {"gray_alpha16_interlaced.png", picture(9, 9, 16, PNG_COLOR_TYPE_GRAY_ALPHA, true)},
      {"rgb8.png", picture(3, 2, 8, PNG_COLOR_TYPE_RGB)},
      {"rgb16.png", picture(3, 2, 16, PNG_COLOR_TYPE_RGB)},
      {"rgb8_interlaced.png", picture(9, 9, 8, PNG_COLOR_TYPE_RGB, true)},
      {"rgba8.png", picture(3, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA)},
      {"rgba16.png", picture(3, 2, 16, PNG_COLOR_TYPE_RGB_ALPHA)},
      {"palette2.png", picture(4, 2, 2, PNG_COLOR_TYPE_PALETTE)},
      {"palette8_interlaced.png", picture(9, 9, 8, PNG_COLOR_TYPE_PALETTE, true)},
  };
  PngPicture keyed = picture(3, 2, 8, PNG_COLOR_TYPE_RGB);
  keyed.has_colour_key = true;
  keyed.colour_key.red = keyed.samples[0];
  keyed.colour_key.green = keyed.samples[1];
  keyed.colour_key.blue = keyed.samples[2];
  seeds.push_back({"rgb8_trns.png", keyed});
  PngPicture grey_keyed = picture(3, 2, 4, PNG_COLOR_TYPE_GRAY);
  grey_keyed.has_colour_key = true;
  grey_keyed.colour_key.gray = 5;
  seeds.push_back({"gray4_trns.png", grey_keyed});
  PngPicture translucent = picture(4, 2, 4, PNG_COLOR_TYPE_PALETTE);
  translucent.palette_alpha = {0, 128};
  seeds.push_back({"palette4_trns.png", translucent});
  for (const Seed& seed : seeds) write(dir / seed.name, neonvale::test::encode_png(seed.p));
}

void option_seeds(const fs::path& dir) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"-w", "64", "-h", "64", "-a", "1"},
      {"-w", "800px", "-h", "+600", "-a", "2", "-s", "-2147483648", "-r", "1"},
      {"-w", "  3.5", "-w", "1024"},
      {"-s", "2147483648"},
      {"-x", "abc"},
      {"--w", "5"},
      {"-a", "3"},
      {"-r", "0"},
      {"-w"},
      {"-o", "out.png", "-t", "2", "-d", "assets/01_neonvale"},
      {"-o", "", "-t", "-1"},
      {"-t", "1025", "-o", "-w"},
  };
  int n = 0;
  for (const auto& line : lines) {
    std::string bytes;
    for (std::size_t i = 0; i < line.size(); ++i) bytes += (i ? std::string(1, '\0') : "") + line[i];
    write(dir / ("line" + std::to_string(n++)), bytes);
  }
}

void grader_seeds(const fs::path& dir) {
  auto header = [](int s, bool square, int height, int channels, int w, int h, int image_channels, bool unit) {
    std::string b;
    b += char(s);
    b += char((square ? 1 : 0) | (unit ? 6 : 0));
    b += char(height & 0xff);
    b += char(height >> 8);
    b += char(channels);
    b += char(w);
    b += char(h);
    b += char(image_channels == 3 ? 3 : 0x80 + (image_channels + 4) % 6);  // a byte with bit 7 set, % 6 == n
    return b;
  };
  auto unit_values = [](std::size_t n) {
    std::string b;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned v = unsigned(i * 40503u % 65536u);
      b += char(v & 0xff);
      b += char(v >> 8);
    }
    return b;
  };
  write(dir / "identity2", header(2, true, 0, 3, 2, 2, 3, true) + unit_values(2 * 4 * 3 + 2 * 2 * 3));
  write(dir / "cube4_rgba", header(4, true, 0, 4, 3, 3, 3, true) + unit_values(4 * 16 * 4 + 3 * 3 * 3));
  write(dir / "single1", header(1, true, 0, 3, 2, 1, 3, true) + unit_values(3 + 6));
  write(dir / "empty0", header(0, true, 0, 3, 2, 2, 3, true) + unit_values(12));
  write(dir / "wrong_height", header(4, false, 15, 3, 2, 2, 3, true) + unit_values(4 * 15 * 3 + 12));
  write(dir / "two_channels", header(2, true, 0, 2, 2, 2, 3, true) + unit_values(16 + 12));
  write(dir / "four_channel_image", header(2, true, 0, 3, 2, 2, 4, true) + unit_values(24 + 16));
  std::string raw = header(3, true, 0, 3, 2, 2, 3, false);
  const float specials[] = {0.0f, 1.0f, -1.0f, 1e30f, -1e30f, 0.5f, __builtin_nanf(""), __builtin_inff()};
  for (int i = 0; i < 27 * 3 + 12; ++i) {
    char b[4];
    std::memcpy(b, &specials[i % 8], 4);
    raw.append(b, 4);
  }
  write(dir / "raw_unusual_values", raw);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path root = argc > 1 ? argv[1] : "fuzz/corpus";
  png_seeds(root / "png_load_fuzzer");
  option_seeds(root / "options_fuzzer");
  grader_seeds(root / "color_grader_fuzzer");
  return 0;
}
