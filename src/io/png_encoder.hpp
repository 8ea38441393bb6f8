#pragma once
// A PNG encoder for 8-bit RGB and RGBA pictures that filters the rows and
// compresses the image data on every thread, yet writes the same bytes
// whatever the number of threads: the work is cut at fixed places (rows, and
// compression strips of a constant size), never at places that depend on how
// many threads share it.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace neonvale {

// A picture handed to the encoder one row at a time.
struct PngRowSource {
  int width = 0;
  int height = 0;
  int channels = 0;  // 3 (RGB) or 4 (RGBA)
  // Writes row y (row 0 at the top) as width * channels interleaved 8-bit
  // samples to `out`. Called from several threads at once, and possibly more
  // than once for the same row, so what it writes must depend on y alone.
  std::function<void(int y, unsigned char* out)> fill_row;
};

// An uncompressed text chunk (tEXt): a keyword of 1 to 79 printable Latin-1
// characters without leading, trailing or doubled spaces, and a text without
// NUL characters.
struct PngText {
  std::string keyword;
  std::string text;
};

// Receives the bytes of the file in order. It throws to abandon the encoding.
using PngByteSink = std::function<void(const unsigned char* data, std::size_t size)>;

// Encodes the picture as a PNG: signature, IHDR (8 bits per sample, no
// interlacing), an uncompressed tEXt chunk "Software" = "libimago2", one
// tEXt chunk for each of `texts` in order, the image data in IDAT chunks, IEND. Each row takes the filter libpng would
// choose by default (the least sum of the filtered bytes taken as signed
// magnitudes). Throws std::invalid_argument for a size or channel count it
// cannot encode or a text chunk that breaks the rules above,
// std::runtime_error when compression fails, and whatever the
// sink throws.
void encode_png(const PngRowSource& source, const PngByteSink& sink, const std::vector<PngText>& texts = {});

}  // namespace neonvale
