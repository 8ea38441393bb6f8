#include "io/png_io.hpp"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "png_craft.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::TempDir;

// A PNG to write for a test: samples are unpacked, one number per channel of
// the file's own colour type, pixel after pixel from the top row.
struct TestPng {
  int width = 0;
  int height = 0;
  int bit_depth = 8;
  int color_type = PNG_COLOR_TYPE_RGB;
  std::vector<unsigned> samples;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<png_byte> palette_alpha;      // tRNS of a palette file
  std::optional<png_color_16> trans_colour;  // tRNS of a grey or RGB file
  std::optional<double> gamma;               // gAMA
  bool srgb = false;                         // sRGB with its gAMA and cHRM
};

// All libpng work of the writer, under a setjmp with trivially destructible locals.
bool encode(const TestPng& picture, std::FILE* file, png_bytepp rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), picture.bit_depth, picture.color_type,
               picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!picture.palette.empty())
    png_set_PLTE(png, info, const_cast<png_colorp>(picture.palette.data()), int(picture.palette.size()));
  if (!picture.palette_alpha.empty())
    png_set_tRNS(png, info, const_cast<png_bytep>(picture.palette_alpha.data()), int(picture.palette_alpha.size()),
                 nullptr);
  if (picture.trans_colour) {
    png_color_16 colour = *picture.trans_colour;
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  if (picture.gamma) png_set_gAMA(png, info, *picture.gamma);
  if (picture.srgb) png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_write_info(png, info);
  if (picture.bit_depth < 8) png_set_packing(png);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

void write_png(const std::filesystem::path& path, const TestPng& picture) {
  const int channels = test::channel_count(picture.color_type);
  const std::size_t bytes_per_sample = picture.bit_depth == 16 ? 2 : 1;
  const std::size_t row_bytes = std::size_t(picture.width) * std::size_t(channels) * bytes_per_sample;
  ASSERT_EQ(picture.samples.size(), std::size_t(picture.width) * std::size_t(picture.height) * std::size_t(channels));
  std::vector<png_byte> pixels(row_bytes * std::size_t(picture.height));
  for (std::size_t i = 0; i < picture.samples.size(); ++i) {
    if (bytes_per_sample == 2) {
      pixels[2 * i] = png_byte(picture.samples[i] >> 8);
      pixels[2 * i + 1] = png_byte(picture.samples[i] & 0xff);
    } else {
      pixels[i] = png_byte(picture.samples[i]);
    }
  }
  std::vector<png_bytep> rows(std::size_t(picture.height));
  for (int y = 0; y < picture.height; ++y) rows[std::size_t(y)] = pixels.data() + std::size_t(y) * row_bytes;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  const bool ok = encode(picture, file, rows.data());
  std::fclose(file);
  ASSERT_TRUE(ok);
}

// What a saved file holds, read without any transform.
struct RawPng {
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = -1, interlace = -1;
  std::vector<png_byte> pixels;
};

bool decode_raw(std::FILE* file, RawPng* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->bit_depth = png_get_bit_depth(png, info);
  out->color_type = png_get_color_type(png, info);
  out->interlace = png_get_interlace_type(png, info);
  const std::size_t row_bytes = png_get_rowbytes(png, info);
  // The caller sized nothing yet: this vector lives in *out, outside this frame.
  out->pixels.resize(row_bytes * out->height);
  for (png_uint_32 y = 0; y < out->height; ++y) png_read_row(png, out->pixels.data() + y * row_bytes, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

RawPng read_raw(const std::filesystem::path& path) {
  RawPng raw;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr);
  if (!file) return raw;
  EXPECT_TRUE(decode_raw(file, &raw));
  std::fclose(file);
  return raw;
}

float byte_value(unsigned v) { return float(double(v) / 255.0); }

std::string load_failure(const std::filesystem::path& path) {
  try {
    load_png(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no exception";
}

// A 3 x 2 RGB file whose samples cover 0, 128 and 255.
TestPng rgb_sample() {
  TestPng png;
  png.width = 3;
  png.height = 2;
  png.samples = {0, 128, 255, 1, 2, 3, 10, 20, 30, 254, 127, 64, 200, 100, 50, 7, 77, 177};
  return png;
}

void expect_rgb_sample(const Image& image, int expected_channels) {
  ASSERT_EQ(image.width, 3);
  ASSERT_EQ(image.height, 2);
  ASSERT_EQ(image.channels, expected_channels);
  const TestPng picture = rgb_sample();
  for (int i = 0; i < 6; ++i)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(image.plane(c)[i], byte_value(picture.samples[std::size_t(i * 3 + c)])) << i << " " << c;
}

TEST(LoadPng, RgbValuesAreBytesOver255InRowOrder) {
  TempDir dir;
  write_png(dir.path() / "rgb.png", rgb_sample());
  const Image image = load_png(dir.path() / "rgb.png");
  expect_rgb_sample(image, 3);
  EXPECT_EQ(image.at(1, 0, 0), 0.50196081f);
  EXPECT_EQ(image.at(2, 0, 0), 1.0f);
  EXPECT_EQ(image.at(0, 2, 1), byte_value(7));  // last pixel of the bottom row
}

TEST(LoadPng, InterlacedFileLoadsTheSameValues) {
  TempDir dir;
  TestPng picture;
  picture.width = 11;
  picture.height = 9;
  for (int i = 0; i < 11 * 9 * 3; ++i) picture.samples.push_back(unsigned(i * 7 % 256));
  write_png(dir.path() / "plain.png", picture);
  picture.interlaced = true;
  write_png(dir.path() / "adam7.png", picture);
  const Image plain = load_png(dir.path() / "plain.png");
  const Image adam7 = load_png(dir.path() / "adam7.png");
  EXPECT_EQ(adam7.channels, 3);
  EXPECT_EQ(adam7.data, plain.data);
  EXPECT_EQ(plain.at(2, 10, 8), byte_value(unsigned((11 * 9 * 3 - 1) * 7 % 256)));
}

TestPng make_png(int width, int height, int bit_depth, int color_type, std::vector<unsigned> samples) {
  TestPng png;
  png.width = width;
  png.height = height;
  png.bit_depth = bit_depth;
  png.color_type = color_type;
  png.samples = std::move(samples);
  return png;
}

// One kind of file, and values its load must give: channel, x, y, value.
struct KindCase {
  const char* name;
  TestPng png;
  int channels;
  std::vector<std::tuple<int, int, int, float>> values;
};

TEST(LoadPng, EveryKindExpandsToRgbOrRgba) {
  const float half = 0.50196081f;  // 128 / 255
  const float third = byte_value(85);
  std::vector<unsigned> one_lit(10, 0);
  one_lit[6] = 1;
  std::vector<KindCase> cases = {
      {"rgba", make_png(2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {10, 20, 30, 0, 40, 50, 60, 255}), 4,
       {{3, 0, 0, 0.0f}, {3, 1, 0, 1.0f}, {2, 1, 0, byte_value(60)}}},
      {"grey", make_png(3, 1, 8, PNG_COLOR_TYPE_GRAY, {0, 128, 255}), 3,
       {{0, 1, 0, half}, {1, 1, 0, half}, {2, 1, 0, half}, {2, 2, 0, 1.0f}, {0, 0, 0, 0.0f}}},
      {"grey+alpha", make_png(2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {50, 100, 200, 255}), 4,
       {{0, 1, 0, byte_value(200)}, {2, 1, 0, byte_value(200)}, {3, 0, 0, byte_value(100)}}},
      // Five samples a row: rows do not end on a byte boundary at these depths.
      {"grey 1-bit", make_png(5, 2, 1, PNG_COLOR_TYPE_GRAY, one_lit), 3, {{1, 1, 1, 1.0f}, {1, 0, 1, 0.0f}}},
      {"grey 2-bit", make_png(5, 2, 2, PNG_COLOR_TYPE_GRAY, one_lit), 3, {{0, 1, 1, third}, {0, 2, 1, 0.0f}}},
      {"grey 4-bit", make_png(5, 2, 4, PNG_COLOR_TYPE_GRAY, {15, 5, 0, 0, 0, 0, 0, 0, 0, 0}), 3,
       {{2, 0, 0, 1.0f}, {2, 1, 0, third}}},
      {"palette 2-bit", make_png(3, 1, 2, PNG_COLOR_TYPE_PALETTE, {2, 0, 1}), 3,
       {{2, 0, 0, byte_value(3)}, {0, 1, 0, 1.0f}, {1, 2, 0, half}}},
      {"palette+tRNS", make_png(3, 1, 8, PNG_COLOR_TYPE_PALETTE, {0, 1, 2}), 4,
       {{3, 0, 0, 0.0f}, {3, 1, 0, half}, {3, 2, 0, 1.0f}, {0, 2, 0, byte_value(1)}}},
      {"rgb+tRNS", make_png(2, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3, 1, 2, 4}), 4,
       {{3, 0, 0, 0.0f}, {3, 1, 0, 1.0f}, {2, 1, 0, byte_value(4)}}},
      {"grey+tRNS", make_png(2, 1, 8, PNG_COLOR_TYPE_GRAY, {9, 10}), 4,
       {{3, 0, 0, 0.0f}, {3, 1, 0, 1.0f}, {2, 1, 0, byte_value(10)}}},
      {"rgba 16-bit", make_png(2, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {0, 1, 32768, 65535, 65534, 256, 255, 12345}),
       4, {}},
      {"grey 16-bit", make_png(1, 1, 16, PNG_COLOR_TYPE_GRAY, {40000}), 3, {{2, 0, 0, float(40000.0 / 65535.0)}}},
  };
  cases[6].png.palette = {{255, 0, 0}, {0, 128, 0}, {1, 2, 3}};
  cases[7].png.palette = {{10, 10, 10}, {20, 20, 20}, {1, 1, 1}};
  cases[7].png.palette_alpha = {0, 128};  // the third entry has none: opaque
  cases[8].png.trans_colour = png_color_16{0, 1, 2, 3, 0};
  cases[9].png.trans_colour = png_color_16{0, 0, 0, 0, 9};
  for (int i = 0; i < 8; ++i)
    cases[10].values.emplace_back(i % 4, i / 4, 0, float(double(cases[10].png.samples[std::size_t(i)]) / 65535.0));

  TempDir dir;
  for (const KindCase& k : cases) {
    SCOPED_TRACE(k.name);
    const auto path = dir.path() / "kind.png";
    write_png(path, k.png);
    const Image image = load_png(path);
    ASSERT_EQ(image.channels, k.channels);
    ASSERT_EQ(image.width, k.png.width);
    for (const auto& [c, x, y, value] : k.values) EXPECT_EQ(image.at(c, x, y), value) << c << " " << x << " " << y;
  }
}

// Inserts a chunk right after IHDR, with its CRC.
std::string with_chunk_after_header(const std::string& file, const std::string& type, const std::string& data) {
  std::string chunk;
  const auto length = std::uint32_t(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) chunk += char((length >> shift) & 0xff);
  const std::string body = type + data;
  chunk += body;
  const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
  for (int shift = 24; shift >= 0; shift -= 8) chunk += char((crc >> shift) & 0xff);
  const std::size_t after_header = 8 + 12 + 13;
  return file.substr(0, after_header) + chunk + file.substr(after_header);
}

TEST(LoadPng, ColourSpaceChunksAreIgnored) {
  TempDir dir;
  TestPng picture = rgb_sample();
  picture.gamma = 1.0;
  write_png(dir.path() / "linear.png", picture);
  expect_rgb_sample(load_png(dir.path() / "linear.png"), 3);

  picture.gamma.reset();
  picture.srgb = true;
  write_png(dir.path() / "srgb.png", picture);
  expect_rgb_sample(load_png(dir.path() / "srgb.png"), 3);

  // An iCCP chunk whose profile claims a strong curve: the values stay raw.
  write_png(dir.path() / "plain.png", rgb_sample());
  std::string profile(256, '\x11');
  std::vector<Bytef> packed(compressBound(uLong(profile.size())));
  uLongf packed_size = uLongf(packed.size());
  ASSERT_EQ(compress(packed.data(), &packed_size, reinterpret_cast<const Bytef*>(profile.data()),
                     uLong(profile.size())),
            Z_OK);
  const std::string data = std::string("curve\0\0", 7) + std::string(packed.begin(), packed.begin() + long(packed_size));
  const std::string bytes = with_chunk_after_header(test::read_file(dir.path() / "plain.png"), "iCCP", data);
  {
    std::FILE* f = std::fopen((dir.path() / "icc.png").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ASSERT_EQ(test::png_chunks(bytes)[1].type, "iCCP");
  expect_rgb_sample(load_png(dir.path() / "icc.png"), 3);
}

TEST(LoadPng, FailuresNameThePath) {
  TempDir dir;
  const auto missing = dir.path() / "missing.png";
  EXPECT_EQ(load_failure(missing), "Cannot open PNG: " + missing.string());

  const auto text = dir.path() / "text.png";
  {
    std::FILE* f = std::fopen(text.c_str(), "wb");
    std::fputs("this is not a picture at all", f);
    std::fclose(f);
  }
  EXPECT_EQ(load_failure(text), "Cannot decode PNG: " + text.string());

  const auto empty = dir.path() / "empty.png";
  std::fclose(std::fopen(empty.c_str(), "wb"));
  EXPECT_EQ(load_failure(empty), "Cannot decode PNG: " + empty.string());

  TestPng big;
  big.width = 64;
  big.height = 64;
  for (int i = 0; i < 64 * 64 * 3; ++i) big.samples.push_back(unsigned(i * 31 % 251));
  write_png(dir.path() / "whole.png", big);
  const std::string whole = test::read_file(dir.path() / "whole.png");
  for (std::size_t keep : {std::size_t(20), std::size_t(40), whole.size() / 2, whole.size() - 12}) {
    const auto cut = dir.path() / ("cut" + std::to_string(keep) + ".png");
    std::FILE* f = std::fopen(cut.c_str(), "wb");
    std::fwrite(whole.data(), 1, keep, f);
    std::fclose(f);
    EXPECT_EQ(load_failure(cut), "Cannot decode PNG: " + cut.string()) << keep;
  }
}

TEST(LoadPng, RefusesSidesAboveTheLimit) {
  TempDir dir;
  TestPng wide;
  wide.width = kMaxPngSide + 1;
  wide.height = 1;
  wide.color_type = PNG_COLOR_TYPE_GRAY;
  wide.samples.assign(std::size_t(wide.width), 7);
  const auto path = dir.path() / "wide.png";
  write_png(path, wide);
  EXPECT_EQ(load_failure(path), "Cannot decode PNG: " + path.string());

  wide.width = kMaxPngSide;
  wide.samples.pop_back();
  write_png(path, wide);
  EXPECT_EQ(load_png(path).width, kMaxPngSide);
}

TEST(SavePng, ClampsThenTruncates) {
  TempDir dir;
  const float values[7] = {-0.5f, 0.0f, 0.5f, 0.999f, 1.0f, 7.0f, std::numeric_limits<float>::quiet_NaN()};
  Image image(7, 1, 3);
  for (int x = 0; x < 7; ++x)
    for (int c = 0; c < 3; ++c) image.at(c, x, 0) = c == 1 ? values[6 - x] : values[x];
  save_png(image, dir.path() / "out.png");
  const RawPng raw = read_raw(dir.path() / "out.png");
  const png_byte expected[7] = {0, 0, 127, 254, 255, 255, 255};
  ASSERT_EQ(raw.pixels.size(), 21u);
  for (int x = 0; x < 7; ++x) {
    EXPECT_EQ(raw.pixels[std::size_t(3 * x)], expected[x]) << x;
    EXPECT_EQ(raw.pixels[std::size_t(3 * x + 1)], expected[6 - x]) << x;
  }
}

TEST(SavePng, WritesEightBitRgbOrRgbaWithTheSoftwareChunk) {
  TempDir dir;
  Image rgb(5, 4, 3);
  save_png(rgb, dir.path() / "rgb.png");
  RawPng raw = read_raw(dir.path() / "rgb.png");
  EXPECT_EQ(raw.width, 5u);
  EXPECT_EQ(raw.height, 4u);
  EXPECT_EQ(raw.bit_depth, 8);
  EXPECT_EQ(raw.color_type, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(raw.interlace, PNG_INTERLACE_NONE);

  const auto chunks = test::png_chunks(test::read_file(dir.path() / "rgb.png"));
  std::size_t text_at = chunks.size(), first_idat = chunks.size(), texts = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i].type == "tEXt") {
      text_at = i;
      ++texts;
      EXPECT_EQ(chunks[i].data, std::string("Software\0libimago2", 18));
    }
    EXPECT_NE(chunks[i].type, "zTXt");
    EXPECT_NE(chunks[i].type, "iTXt");
    if (chunks[i].type == "IDAT" && first_idat == chunks.size()) first_idat = i;
  }
  EXPECT_EQ(texts, 1u);
  EXPECT_LT(text_at, first_idat);
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(chunks.back().type, "IEND");

  Image rgba(2, 3, 4);
  rgba.at(3, 1, 2) = 0.5f;
  save_png(rgba, dir.path() / "rgba.png");
  raw = read_raw(dir.path() / "rgba.png");
  EXPECT_EQ(raw.color_type, PNG_COLOR_TYPE_RGB_ALPHA);
  EXPECT_EQ(raw.pixels[(2 * 2 + 1) * 4 + 3], 127);
}

TEST(SavePng, RoundTripsBytesExactly) {
  TempDir dir;
  for (int channels : {3, 4}) {
    Image image(16, 16, channels);
    for (std::size_t i = 0; i < image.data.size(); ++i) image.data[i] = byte_value(unsigned(i * 37 % 256));
    const auto path = dir.path() / ("round" + std::to_string(channels) + ".png");
    save_png(image, path);
    const Image back = load_png(path);
    EXPECT_EQ(back.channels, channels);
    EXPECT_EQ(back.data, image.data);
  }
}

std::string save_failure(const Image& image, const std::filesystem::path& path) {
  try {
    save_png(image, path);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

TEST(SavePng, RefusesBadImagesBeforeTouchingTheFile) {
  TempDir dir;
  const auto path = dir.path() / "out.png";
  EXPECT_EQ(save_failure(Image(0, 4, 3), path), "Invalid output image dimensions");
  Image short_storage(4, 4, 3);
  short_storage.data = PlaneBuffer(4 * 4 * 3 - 1);
  EXPECT_EQ(save_failure(short_storage, path), "Invalid output image dimensions");
  EXPECT_EQ(save_failure(Image(4, 4, 2), path), "Invalid output image dimensions");
  EXPECT_EQ(save_failure(Image(kMaxPngSide + 1, 1, 3), path), "Cannot allocate PNG output");
  EXPECT_EQ(save_failure(Image(1, kMaxPngSide + 1, 3), path), "Cannot allocate PNG output");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SavePng, MissingFolderCannotBeOpened) {
  TempDir dir;
  const auto path = dir.path() / "no" / "such" / "out.png";
  EXPECT_EQ(save_failure(Image(4, 4, 3), path), "Cannot open output PNG: " + path.string());
}

}  // namespace
}  // namespace neonvale
