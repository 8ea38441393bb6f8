#pragma once
// Making PNG files byte by byte for the failure-path tests and the fuzzing
// seeds: encoding any colour type, bit depth and interlacing with libpng, and
// editing the chunks of an encoded file (damaged CRCs, impossible headers,
// truncation). Header-only so that the seed generator can share it.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace neonvale::test {

// The CRC-32 that PNG puts after each chunk, over its type and data.
inline std::uint32_t png_crc(const std::string& bytes) {
  std::uint32_t crc = 0xffffffffu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xffffffffu;
}

inline std::uint32_t get_u32(const std::string& s, std::size_t at) {
  return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
         std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint32_t(std::uint8_t(s[at + 3]));
}

inline std::string u32_bytes(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline void put_u32(std::string& s, std::size_t at, std::uint32_t v) { s.replace(at, 4, u32_bytes(v)); }

struct Chunk {
  std::string type;  // four letters
  std::string data;
  std::uint32_t crc = 0;
};

const std::string kPngSignature = "\x89PNG\r\n\x1a\n";

// The chunks after the signature of a well-formed file.
inline std::vector<Chunk> read_chunks(const std::string& png) {
  std::vector<Chunk> chunks;
  std::size_t at = kPngSignature.size();
  while (at + 12 <= png.size()) {
    const std::uint32_t length = get_u32(png, at);
    Chunk chunk;
    chunk.type = png.substr(at + 4, 4);
    chunk.data = png.substr(at + 8, length);
    chunk.crc = get_u32(png, at + 8 + length);
    chunks.push_back(chunk);
    at += 12 + std::size_t(length);
  }
  return chunks;
}

// Signature and chunks; with `fix_crc` every CRC is recomputed, otherwise the
// stored ones are written as they are.
inline std::string write_chunks(const std::vector<Chunk>& chunks, bool fix_crc = true) {
  std::string png = kPngSignature;
  for (const Chunk& chunk : chunks) {
    png += u32_bytes(std::uint32_t(chunk.data.size()));
    png += chunk.type;
    png += chunk.data;
    png += u32_bytes(fix_crc ? png_crc(chunk.type + chunk.data) : chunk.crc);
  }
  return png;
}

// A picture to encode. `samples` holds width * height * channels values in
// row order, each within the bit depth (palette indices for palette images).
struct PngPicture {
  int width = 1;
  int height = 1;
  int bit_depth = 8;
  int color_type = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  std::vector<unsigned> samples;
  std::vector<png_color> palette;           // palette images
  std::vector<png_byte> palette_alpha;      // tRNS of a palette image
  bool has_colour_key = false;              // tRNS of a grey or RGB image
  png_color_16 colour_key{};
};

inline int channel_count(int color_type) {
  switch (color_type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
  }
}

namespace detail {

inline void append_to_string(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
inline void no_flush(png_structp) {}

// The setjmp lives here, with trivially destructible locals only.
inline bool encode(png_structp png, png_infop info, const PngPicture* p, png_bytepp rows, std::string* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, append_to_string, no_flush);
  png_set_IHDR(png, info, png_uint_32(p->width), png_uint_32(p->height), p->bit_depth, p->color_type,
               p->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!p->palette.empty()) png_set_PLTE(png, info, p->palette.data(), int(p->palette.size()));
  if (!p->palette_alpha.empty())
    png_set_tRNS(png, info, p->palette_alpha.data(), int(p->palette_alpha.size()), nullptr);
  if (p->has_colour_key) png_set_tRNS(png, info, nullptr, 0, &p->colour_key);
  png_write_info(png, info);
  if (p->bit_depth < 8) png_set_packing(png);  // rows below hold one sample per byte
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

}  // namespace detail

// Encodes the picture; aborts on a picture libpng refuses (a test bug).
inline std::string encode_png(const PngPicture& p) {
  const int channels = channel_count(p.color_type);
  const std::size_t bytes_per_sample = p.bit_depth == 16 ? 2 : 1;
  const std::size_t row_bytes = std::size_t(p.width) * std::size_t(channels) * bytes_per_sample;
  std::vector<png_byte> pixels(row_bytes * std::size_t(p.height));
  for (std::size_t i = 0; i < p.samples.size() && i * bytes_per_sample < pixels.size(); ++i) {
    if (bytes_per_sample == 2) {
      pixels[2 * i] = png_byte(p.samples[i] >> 8);  // PNG's 16-bit samples are big-endian
      pixels[2 * i + 1] = png_byte(p.samples[i]);
    } else {
      pixels[i] = png_byte(p.samples[i]);
    }
  }
  std::vector<png_bytep> rows(std::size_t(p.height));
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = pixels.data() + y * row_bytes;

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::string out;
  const bool ok = png && info && detail::encode(png, info, &p, rows.data(), &out);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) {
    std::fprintf(stderr, "png_craft: libpng refused a test picture\n");
    std::abort();
  }
  return out;
}

}  // namespace neonvale::test
