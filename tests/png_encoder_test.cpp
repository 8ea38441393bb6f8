// The PNG writer: files that decode to the converted bytes, the same bytes at
// every thread count, a well-formed chunk layout, the filter choices and the
// size libpng's default writer gives.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "io/png_io.hpp"
#include "png_craft.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::TempDir;


std::uint32_t mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  return x ^ (x >> 16);
}

std::uint32_t mix(int x, int y, int c) { return mix(std::uint32_t(x) * 73856093u ^ mix(std::uint32_t(y) * 19349663u + std::uint32_t(c))); }

// A value from a hash, now and then one of the cases the byte conversion
// treats specially: below 0, above 1, NaN, exactly 0 or 1.
float value_from(std::uint32_t h) {
  switch (h % 16) {
    case 0: return -0.25f;
    case 1: return 1.5f;
    case 2: return std::numeric_limits<float>::quiet_NaN();
    case 3: return 1.0f;
    case 4: return 0.0f;
    default: return float(h >> 8 & 0xffffu) / 65535.0f;
  }
}

// Rows that repeat every five lines with a quarter of the samples replaced by
// noise: deflate finds matches a few rows back, also across the boundaries of
// its compression strips, and no two rows filter alike.
Image textured(int width, int height, int channels) {
  Image image(width, height, channels);
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const std::uint32_t noise = mix(x, y, c);
        image.at(c, x, y) = value_from(noise % 4 == 0 ? noise >> 2 : mix(x, y % 5, c + 7));
      }
  return image;
}

// Independent values everywhere: compresses hardly at all.
Image noise(int width, int height, int channels) {
  Image image(width, height, channels);
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image.at(c, x, y) = value_from(mix(x, y, c));
  return image;
}

// Each pixel half the one before it, to the right and downwards, so that
// the Average filter is the best by far: libpng leaves it out in a picture
// one pixel wide or high.
Image halving(int width, int height, int channels) {
  Image image(width, height, channels);
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image.at(c, x, y) = float(double(255u >> std::min(x + y, 8)) / 255.0);
  return image;
}

// The conversion the file must hold: clamped to 0..1 (NaN as 1), scaled by
// 255 and truncated.
unsigned expected_byte(float value) {
  if (std::isnan(value) || value >= 1.0f) return 255;
  if (value <= 0.0f) return 0;
  return unsigned(double(value) * 255.0);
}

// load_png gives the float nearest byte / 255.
unsigned loaded_byte(float value) { return unsigned(std::lround(double(value) * 255.0)); }

std::string saved_bytes(const Image& image, const TempDir& dir, const std::string& name = "out.png") {
  const auto path = dir.path() / name;
  save_png(image, path);
  return test::read_file(path);
}

// The image data of a PNG file: its IDAT chunks joined and inflated, checked
// against the stream's Adler-32. Empty when the stream does not inflate to
// exactly `size` bytes.
std::string inflated_image_data(const std::string& file, std::size_t size) {
  std::string stream;
  for (const test::PngChunk& chunk : test::png_chunks(file))
    if (chunk.type == "IDAT") stream += chunk.data;
  std::string out(size + 1, '\0');
  uLongf out_size = uLongf(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &out_size, reinterpret_cast<const Bytef*>(stream.data()),
                 uLong(stream.size())) != Z_OK ||
      out_size != size)
    return {};
  out.resize(size);
  return out;
}

// The same picture written by libpng with its default settings.
std::string libpng_file(const Image& image) {
  test::PngPicture picture;
  picture.width = image.width;
  picture.height = image.height;
  picture.color_type = image.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 0; c < image.channels; ++c) picture.samples.push_back(expected_byte(image.at(c, x, y)));
  return test::encode_png(picture);
}

std::size_t filtered_size(const Image& image) {
  return (std::size_t(image.width) * std::size_t(image.channels) + 1) * std::size_t(image.height);
}

TEST(PngEncoder, FileLoadsBackToTheConvertedBytes) {
  TempDir dir;
  // 700 x 500 filters to over 1 MB, several compression strips.
  const int sizes[][2] = {{1, 1}, {7, 3}, {1, 9}, {9, 1}, {300, 211}, {700, 500}};
  for (int channels : {3, 4}) {
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " + std::to_string(channels));
      const Image image = textured(size[0], size[1], channels);
      save_png(image, dir.path() / "out.png");
      const Image back = load_png(dir.path() / "out.png");
      ASSERT_EQ(back.width, image.width);
      ASSERT_EQ(back.height, image.height);
      ASSERT_EQ(back.channels, channels);
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < image.data.size(); ++i) wrong += loaded_byte(back.data[i]) != expected_byte(image.data[i]);
      EXPECT_EQ(wrong, 0u);
    }
  }
}

TEST(PngEncoder, FileBytesDoNotDependOnTheThreadCount) {
  TempDir dir;
  for (const Image& image : {textured(700, 500, 3), noise(300, 211, 4), textured(5, 300, 3)}) {
    std::string one;
    {
      test::Threads threads(1);
      one = saved_bytes(image, dir);
    }
    ASSERT_FALSE(one.empty());
    for (int count : {2, 3, 7}) {
      test::Threads threads(count);
      EXPECT_TRUE(saved_bytes(image, dir) == one) << image.width << " x " << image.height << ", " << count << " threads";
    }
  }
}

TEST(PngEncoder, ChunksAreHeaderTextImageDataEnd) {
  TempDir dir;
  for (int channels : {3, 4}) {
    // Noise compresses so little that the image data needs several IDAT chunks.
    const Image image = noise(700, 500, channels);
    const std::string file = saved_bytes(image, dir);
    const auto chunks = test::png_chunks(file);
    ASSERT_GE(chunks.size(), 5u);  // at least two IDAT chunks
    EXPECT_EQ(chunks[0].type, "IHDR");
    const std::string colour_type = channels == 4 ? "\x06" : "\x02";
    EXPECT_EQ(chunks[0].data, std::string("\0\0\x02\xbc\0\0\x01\xf4\x08", 9) + colour_type + std::string(3, '\0'));
    EXPECT_EQ(chunks[1].type, "tEXt");
    EXPECT_EQ(chunks[1].data, std::string("Software\0libimago2", 18));
    for (std::size_t i = 2; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].type, "IDAT") << i;
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_EQ(chunks.back().data, "");

    const std::string data = inflated_image_data(file, filtered_size(image));
    ASSERT_EQ(data.size(), filtered_size(image)) << "the image data does not inflate";
    for (std::size_t row = 0; row < data.size(); row += std::size_t(image.width) * std::size_t(channels) + 1)
      EXPECT_LE(static_cast<unsigned char>(data[row]), 4u) << "filter type of row " << row;
  }
}

// pngcheck is not on a fresh machine; CI installs it and sets
// NEONVALE_REQUIRE_PNGCHECK so that there the check never skips.
TEST(PngEncoder, PassesPngcheck) {
  TempDir dir;
  const test::RunResult found = test::run_in(dir.path(), "command -v pngcheck");
  if (found.exit_code != 0) {
    if (std::getenv("NEONVALE_REQUIRE_PNGCHECK")) FAIL() << "pngcheck is not installed (Debian package pngcheck)";
    GTEST_SKIP() << "pngcheck is not installed (Debian package pngcheck)";
  }
  save_png(textured(700, 500, 3), dir.path() / "rgb.png");
  save_png(noise(700, 500, 4), dir.path() / "rgba.png");
  {
    const auto out = open_png_output(dir.path() / "pixel.png");
    save_png(textured(1, 1, 3), *out, {{"Comment", "neonvale 1.1.0 -w 1 -h 1"}, {"Title", ""}});
  }
  for (const char* name : {"rgb.png", "rgba.png", "pixel.png"}) {
    const test::RunResult r = test::run_in(dir.path(), std::string("pngcheck -v ") + name);
    EXPECT_EQ(r.exit_code, 0) << name << "\n" << r.out << r.err;
  }
}

TEST(PngEncoder, TextChunksFollowTheSoftwareChunkAndRefuseBadKeywords) {
  const PngRowSource source{2, 1, 3, [](int, unsigned char* row) { std::fill(row, row + 6, 7); }};
  std::string file;
  const PngByteSink sink = [&](const unsigned char* data, std::size_t size) {
    file.append(reinterpret_cast<const char*>(data), size);
  };
  encode_png(source, sink, {{"Comment", "made again by -w 2"}, {"Title", "x"}});
  const auto chunks = test::png_chunks(file);
  ASSERT_GE(chunks.size(), 5u);
  EXPECT_EQ(chunks[1].data, std::string("Software\0libimago2", 18));
  EXPECT_EQ(chunks[2].data, std::string("Comment\0made again by -w 2", 26));
  EXPECT_EQ(chunks[3].data, std::string("Title\0x", 7));
  EXPECT_EQ(chunks[4].type, "IDAT");
  for (const PngText& bad : {PngText{"", "x"}, PngText{" Lead", "x"}, PngText{"Trail ", "x"}, PngText{"Two  spaces", "x"},
                             PngText{std::string(80, 'k'), "x"}, PngText{"Tab\there", "x"},
                             PngText{"Comment", std::string("nul\0inside", 11)}}) {
    file.clear();
    EXPECT_THROW(encode_png(source, sink, {bad}), std::invalid_argument) << bad.keyword;
    EXPECT_TRUE(file.empty()) << "wrote before refusing";
  }
}

// Each row takes the filter libpng's default writer gives it, so the
// filtered data match exactly; the compressed size stays within 2 % of
// libpng's on a real render (the one the documentation shows).
TEST(PngEncoder, MatchesLibpngDefaults) {
  TempDir dir;
  const Image render = load_png(test::source_dir() / "docs" / "lumen_drift.png");
  ASSERT_EQ(render.channels, 3);
  for (const Image& image : {halving(1, 9, 3), halving(9, 1, 4), halving(9, 9, 3), textured(7, 3, 3), textured(300, 211, 4),
                             Image(render)}) {
    SCOPED_TRACE(std::to_string(image.width) + " x " + std::to_string(image.height));
    const std::string ours = saved_bytes(image, dir);
    const std::string reference = libpng_file(image);
    const std::string filtered = inflated_image_data(ours, filtered_size(image));
    ASSERT_FALSE(filtered.empty());
    EXPECT_TRUE(filtered == inflated_image_data(reference, filtered_size(image)));
  }

  const std::size_t ours = saved_bytes(render, dir).size();
  const std::size_t text_chunk = 12 + 18;  // the reference has no "Software" chunk
  const std::size_t reference = libpng_file(render).size() + text_chunk;
  EXPECT_LE(double(ours), 1.02 * double(reference)) << ours << " bytes against libpng's " << reference;
}

}  // namespace
}  // namespace neonvale
