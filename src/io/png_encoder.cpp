#include "io/png_encoder.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/parallel.hpp"

namespace neonvale {

namespace {

using Bytes = std::vector<unsigned char>;

// The filtered image data is compressed in strips of this many bytes, each on
// its own thread. The boundaries, and so the compressed bytes, depend on the
// picture alone. Each strip starts from the last kDictionaryBytes of the one
// before (the whole deflate window), so it can refer back across its start
// and the ratio stays that of one long stream.
constexpr std::size_t kStripBytes = std::size_t(256) << 10;
constexpr std::size_t kDictionaryBytes = std::size_t(32) << 10;
constexpr int kWindowBits = 15;

// Compression settings, chosen by measurement on the default render and
// smaller ones against libpng's default (level 6, Z_FILTERED): zlib's level 5
// with memLevel 9 and longer match searches stays about 1 % above libpng's
// size at two thirds of the time of level 6. Plain level 5 came within 0.3 %
// of the 2 % this encoder allows itself, level 4 above it.
constexpr int kLevel = 5;
constexpr int kMemLevel = 9;
constexpr int kStrategy = Z_FILTERED;
// For deflateTune: good_length, max_lazy, nice_length, max_chain.
constexpr int kGoodLength = 8;
constexpr int kMaxLazy = 16;
constexpr int kNiceLength = 48;
constexpr int kMaxChain = 48;

// The image data is split into IDAT chunks of at most this many bytes.
constexpr std::size_t kMaxIdatBytes = std::size_t(256) << 10;

// ---------------------------------------------------------------------------
// Work on every thread

// ---------------------------------------------------------------------------
// Row filters

enum FilterType : unsigned char { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };
constexpr int kFilterTypes = 5;

// The filters that may be chosen, a bit per type. As libpng does, a single row
// leaves out those that read the row above and a single column those that
// read the pixel to the left, since there they only repeat None, Sub or Up.
unsigned allowed_filters(int width, int height) {
  unsigned allowed = (1u << kFilterTypes) - 1;
  if (height == 1) allowed &= ~((1u << kUp) | (1u << kAverage) | (1u << kPaeth));
  if (width == 1) allowed &= ~((1u << kSub) | (1u << kAverage) | (1u << kPaeth));
  return allowed;
}

// A filtered byte's distance from zero when read as a signed byte.
inline std::uint32_t magnitude(unsigned char v) { return v < 128 ? v : 256u - v; }

// The Paeth predictor from the left (a), upper (b) and upper left (c) bytes,
// written without branches so the loops below vectorise.
inline unsigned char paeth_predictor(int a, int b, int c) {
  const int pa = std::abs(b - c);          // |p - a| for p = a + b - c
  const int pb = std::abs(a - c);          // |p - b|
  const int pc = std::abs(a + b - 2 * c);  // |p - c|
  const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
  return static_cast<unsigned char>(predicted);
}

// Sums the magnitudes each filter would give byte x, with a, b and c its
// left, upper and upper left neighbours (0 outside the picture).
inline void add_magnitudes(unsigned char x, unsigned char a, unsigned char b, unsigned char c,
                           std::uint32_t* sums) {
  sums[kNone] += magnitude(x);
  sums[kSub] += magnitude(static_cast<unsigned char>(x - a));
  sums[kUp] += magnitude(static_cast<unsigned char>(x - b));
  sums[kAverage] += magnitude(static_cast<unsigned char>(x - ((a + b) >> 1)));
  sums[kPaeth] += magnitude(static_cast<unsigned char>(x - paeth_predictor(a, b, c)));
}

// libpng's default choice: the allowed filter whose output has the least sum
// of magnitudes; on a tie the lowest type number wins. The sums fit 32 bits:
// a row holds at most 4 * 23170 bytes of magnitude 128 or less.
FilterType choose_filter(const unsigned char* row, const unsigned char* above, std::size_t length, std::size_t bpp,
                         unsigned allowed) {
  std::uint32_t sums[kFilterTypes] = {};
  for (std::size_t i = 0; i < bpp; ++i) add_magnitudes(row[i], 0, above[i], 0, sums);
  for (std::size_t i = bpp; i < length; ++i) add_magnitudes(row[i], row[i - bpp], above[i], above[i - bpp], sums);
  int best = -1;
  for (int type = 0; type < kFilterTypes; ++type)
    if ((allowed >> type & 1u) && (best < 0 || sums[type] < sums[best])) best = type;
  return FilterType(best);
}

// Writes the filter type byte and the filtered row to `out`. `above` is the
// row above, all zeros for the first row.
void filter_row(const unsigned char* row, const unsigned char* above, std::size_t length, std::size_t bpp,
                unsigned allowed, unsigned char* out) {
  const FilterType type = choose_filter(row, above, length, bpp, allowed);
  out[0] = type;
  unsigned char* filtered = out + 1;
  const auto left = [&](std::size_t i) { return i >= bpp ? row[i - bpp] : 0; };
  const auto upper_left = [&](std::size_t i) { return i >= bpp ? above[i - bpp] : 0; };
  switch (type) {
    case kNone:
      std::copy(row, row + length, filtered);
      break;
    case kSub:
      for (std::size_t i = 0; i < length; ++i) filtered[i] = static_cast<unsigned char>(row[i] - left(i));
      break;
    case kUp:
      for (std::size_t i = 0; i < length; ++i) filtered[i] = static_cast<unsigned char>(row[i] - above[i]);
      break;
    case kAverage:
      for (std::size_t i = 0; i < length; ++i)
        filtered[i] = static_cast<unsigned char>(row[i] - ((left(i) + above[i]) >> 1));
      break;
    case kPaeth:
      for (std::size_t i = 0; i < length; ++i)
        filtered[i] = static_cast<unsigned char>(row[i] - paeth_predictor(left(i), above[i], upper_left(i)));
      break;
  }
}

// The filtered rows of the whole picture, each behind its type byte. Each
// range of rows fetches the row above its first one again, so ranges need
// nothing from each other.
Bytes filter_rows(const PngRowSource& source) {
  const std::size_t row_bytes = std::size_t(source.width) * std::size_t(source.channels);
  const std::size_t bpp = std::size_t(source.channels);
  const unsigned allowed = allowed_filters(source.width, source.height);
  Bytes filtered((row_bytes + 1) * std::size_t(source.height));
  parallel_for(source.height, [&](int begin, int end) {
    Bytes above(row_bytes, 0), row(row_bytes);
    if (begin > 0) source.fill_row(begin - 1, above.data());
    for (int y = begin; y < end; ++y) {
      source.fill_row(y, row.data());
      filter_row(row.data(), above.data(), row_bytes, bpp, allowed, &filtered[std::size_t(y) * (row_bytes + 1)]);
      std::swap(row, above);
    }
  });
  return filtered;
}

// ---------------------------------------------------------------------------
// Compression

// A raw deflate stream (no zlib header or trailer) owned for its lifetime.
class RawDeflater {
 public:
  RawDeflater() {
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, -kWindowBits, kMemLevel, kStrategy) != Z_OK)
      throw std::runtime_error("Cannot start PNG compression");
    if (deflateTune(&stream_, kGoodLength, kMaxLazy, kNiceLength, kMaxChain) != Z_OK) {
      deflateEnd(&stream_);
      throw std::runtime_error("Cannot start PNG compression");
    }
  }
  ~RawDeflater() { deflateEnd(&stream_); }
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  void set_dictionary(const unsigned char* data, std::size_t size) {
    if (size > 0 && deflateSetDictionary(&stream_, data, uInt(size)) != Z_OK)
      throw std::runtime_error("Cannot prime PNG compression");
  }

  // Compresses all of `data` and ends with `flush`: Z_SYNC_FLUSH ends on a
  // byte boundary without ending the stream, Z_FINISH ends the stream. The
  // result is sized exactly, as it is kept until the file is written.
  Bytes compress(const unsigned char* data, std::size_t size, int flush) {
    Bytes out(deflateBound(&stream_, uLong(size)) + 64);
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = uInt(size);
    std::size_t used = 0;
    while (true) {
      stream_.next_out = out.data() + used;
      stream_.avail_out = uInt(out.size() - used);
      const int result = deflate(&stream_, flush);
      used = out.size() - stream_.avail_out;
      const bool progressing = result == Z_OK || result == Z_BUF_ERROR;
      if (flush == Z_FINISH ? result == Z_STREAM_END : progressing && stream_.avail_out > 0) break;
      // Anything but a full output buffer is a failure.
      if (!progressing || stream_.avail_out > 0) throw std::runtime_error("PNG compression failed");
      out.resize(out.size() * 2);
    }
    return Bytes(out.begin(), out.begin() + std::ptrdiff_t(used));
  }

 private:
  z_stream stream_{};
};

struct Strip {
  Bytes deflated;
  uLong adler = 0;     // Adler-32 of the strip's filtered bytes
  std::size_t size = 0;  // how many filtered bytes it holds
};

Strip compress_strip(const Bytes& data, std::size_t index) {
  const std::size_t begin = index * kStripBytes;
  const std::size_t end = std::min(data.size(), begin + kStripBytes);
  const std::size_t dictionary = std::min(begin, kDictionaryBytes);
  RawDeflater deflater;
  deflater.set_dictionary(data.data() + begin - dictionary, dictionary);
  Strip strip;
  strip.size = end - begin;
  strip.deflated = deflater.compress(data.data() + begin, strip.size, end == data.size() ? Z_FINISH : Z_SYNC_FLUSH);
  strip.adler = adler32(adler32(0, nullptr, 0), data.data() + begin, uInt(strip.size));
  return strip;
}

std::vector<Strip> compress_strips(const Bytes& data) {
  std::vector<Strip> strips((data.size() + kStripBytes - 1) / kStripBytes);
  parallel_for(int(strips.size()), [&](int begin, int end) {
    for (int i = begin; i < end; ++i) strips[std::size_t(i)] = compress_strip(data, std::size_t(i));
  });
  return strips;
}

uLong combined_adler(const std::vector<Strip>& strips) {
  uLong adler = adler32(0, nullptr, 0);
  for (const Strip& strip : strips) adler = adler32_combine(adler, strip.adler, z_off_t(strip.size));
  return adler;
}

// The two bytes before the deflate data: method 8 with a 32 KiB window, the
// level class zlib itself would record, no preset dictionary, and the check
// bits that make the pair a multiple of 31.
std::array<unsigned char, 2> zlib_header() {
  const unsigned cmf = 0x08u | unsigned(kWindowBits - 8) << 4;
  const unsigned level_class = kStrategy >= Z_HUFFMAN_ONLY || kLevel < 2 ? 0 : kLevel < 6 ? 1 : kLevel == 6 ? 2 : 3;
  unsigned flg = level_class << 6;
  flg += 31 - (cmf * 256 + flg) % 31;
  return {static_cast<unsigned char>(cmf), static_cast<unsigned char>(flg)};
}

// ---------------------------------------------------------------------------
// The file

std::array<unsigned char, 4> big_endian(std::uint32_t v) {
  return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v)};
}

// Writes a chunk's length and type and starts its CRC, which covers the type
// and the data.
uLong begin_chunk(const char* type, std::size_t size, const PngByteSink& sink) {
  const auto length = big_endian(std::uint32_t(size));
  sink(length.data(), length.size());
  const auto* type_bytes = reinterpret_cast<const unsigned char*>(type);
  sink(type_bytes, 4);
  return crc32(crc32(0, nullptr, 0), type_bytes, 4);
}

void end_chunk(uLong crc, const PngByteSink& sink) {
  const auto bytes = big_endian(std::uint32_t(crc));
  sink(bytes.data(), bytes.size());
}

void write_chunk(const char* type, const unsigned char* data, std::size_t size, const PngByteSink& sink) {
  uLong crc = begin_chunk(type, size, sink);
  if (size > 0) {
    sink(data, size);
    crc = crc32(crc, data, uInt(size));
  }
  end_chunk(crc, sink);
}

bool printable_latin1(unsigned char c) { return (c >= 32 && c <= 126) || c >= 161; }

void check_text(const PngText& text) {
  const std::string& k = text.keyword;
  bool valid = !k.empty() && k.size() <= 79 && k.front() != ' ' && k.back() != ' ' &&
               k.find("  ") == std::string::npos && text.text.find('\0') == std::string::npos;
  for (const char c : k) valid = valid && printable_latin1(static_cast<unsigned char>(c));
  if (!valid) throw std::invalid_argument("PNG encoder: invalid text chunk");
}

void write_text(const PngText& text, const PngByteSink& sink) {
  std::string data = text.keyword;
  data += '\0';
  data += text.text;
  write_chunk("tEXt", reinterpret_cast<const unsigned char*>(data.data()), data.size(), sink);
}

void write_header(const PngRowSource& source, const PngByteSink& sink) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  sink(signature, sizeof signature);
  unsigned char ihdr[13] = {};
  const auto width = big_endian(std::uint32_t(source.width));
  const auto height = big_endian(std::uint32_t(source.height));
  std::copy(width.begin(), width.end(), ihdr);
  std::copy(height.begin(), height.end(), ihdr + 4);
  ihdr[8] = 8;                              // bits per sample
  ihdr[9] = source.channels == 4 ? 6 : 2;  // RGBA or RGB; compression, filter method and interlacing stay 0
  write_chunk("IHDR", ihdr, sizeof ihdr, sink);
  static const unsigned char software[] = "Software\0libimago2";  // keyword, separator, text
  write_chunk("tEXt", software, sizeof software - 1, sink);
}

struct Span {
  const unsigned char* data;
  std::size_t size;
};

// Writes the zlib stream, given as consecutive pieces, as IDAT chunks of at
// most kMaxIdatBytes each.
void write_image_data(const std::vector<Span>& stream, const PngByteSink& sink) {
  std::size_t remaining = 0;
  for (const Span& piece : stream) remaining += piece.size;
  std::size_t piece = 0, offset = 0;
  while (remaining > 0) {
    const std::size_t chunk_size = std::min(remaining, kMaxIdatBytes);
    uLong crc = begin_chunk("IDAT", chunk_size, sink);
    for (std::size_t left = chunk_size; left > 0;) {
      const Span& span = stream[piece];
      const std::size_t take = std::min(left, span.size - offset);
      sink(span.data + offset, take);
      crc = crc32(crc, span.data + offset, uInt(take));
      offset += take;
      left -= take;
      if (offset == span.size) {
        ++piece;
        offset = 0;
      }
    }
    end_chunk(crc, sink);
    remaining -= chunk_size;
  }
}

void check_source(const PngRowSource& source) {
  if (source.width <= 0 || source.height <= 0 || (source.channels != 3 && source.channels != 4) || !source.fill_row)
    throw std::invalid_argument("PNG encoder: invalid picture");
  // The filtered rows are held whole, and the strips are counted in an int.
  const std::size_t row_bytes = std::size_t(source.width) * std::size_t(source.channels) + 1;
  if (row_bytes > SIZE_MAX / std::size_t(source.height) ||
      row_bytes * std::size_t(source.height) / kStripBytes >= std::size_t(INT_MAX))
    throw std::invalid_argument("PNG encoder: picture too large");
}

}  // namespace

void encode_png(const PngRowSource& source, const PngByteSink& sink, const std::vector<PngText>& texts) {
  check_source(source);
  for (const PngText& text : texts) check_text(text);
  // The filtered rows are released as soon as they are compressed.
  const std::vector<Strip> strips = compress_strips(filter_rows(source));
  write_header(source, sink);
  for (const PngText& text : texts) write_text(text, sink);
  const auto header = zlib_header();
  const auto trailer = big_endian(std::uint32_t(combined_adler(strips)));
  std::vector<Span> stream{{header.data(), header.size()}};
  for (const Strip& strip : strips) stream.push_back({strip.deflated.data(), strip.deflated.size()});
  stream.push_back({trailer.data(), trailer.size()});
  write_image_data(stream, sink);
  write_chunk("IEND", nullptr, 0, sink);
}

}  // namespace neonvale
