#include "io/png_io.hpp"

#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/output_file.hpp"
#include "io/png_encoder.hpp"
#include "core/system_memory.hpp"

namespace neonvale {

namespace {

constexpr png_uint_32 kMaxSide = png_uint_32(kMaxPngSide);

// libpng reports errors through a callback that must not return. The callback
// records the message and jumps back to the setjmp in one of the small
// functions below, whose locals are all trivially destructible; the C++
// exception is thrown only after the jump, by code that owns the resources.
struct PngErrorState {
  std::jmp_buf jump;
  char message[256];
};

void on_png_error(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message ? message : "unknown error");
  std::longjmp(state->jump, 1);
}

// Warnings (a bad ancillary chunk, say) do not stop a load and must not reach
// standard output.
void on_png_warning(png_structp, png_const_charp) {}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Creation runs under a setjmp as well, so an error reported while libpng
// builds its structures lands here rather than on an unset jump buffer.
bool create_read_structs(PngErrorState* state, png_structp* png, png_infop* info) {
  if (setjmp(state->jump)) return false;
  *png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, on_png_error, on_png_warning);
  if (*png) *info = png_create_info_struct(*png);
  return *png && *info;
}

// Opens a regular file for reading, or returns null. O_NONBLOCK keeps a named
// pipe in the file's place from blocking the open forever; anything but a
// regular file (a folder, a pipe, a device) is refused like a missing file.
std::FILE* open_regular_file(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* file = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
    file = ::fdopen(fd, "rb");
  if (!file) ::close(fd);
  return file;
}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct PngLayout {
  png_uint_32 width;
  png_uint_32 height;
  int channels;  // 3 or 4 after the transforms
  int bit_depth; // 8 or 16 after the transforms
  std::size_t row_bytes;
};

// Bytes of a PNG held in memory, handed to libpng as it asks for them.
struct MemorySource {
  const unsigned char* next;
  std::size_t left;
};

void read_from_memory(png_structp png, png_bytep out, png_size_t count) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (count > source->left) png_error(png, "unexpected end of data");
  std::memcpy(out, source->next, count);
  source->next += count;
  source->left -= count;
}

// Where the encoded bytes come from: an open file, or memory.
struct PngSource {
  std::FILE* file;
  MemorySource* memory;
};

// Reads the header and sets the transforms that expand every kind of PNG to
// 8- or 16-bit RGB or RGBA. Returns false with state->message on failure.
bool read_png_header(png_structp png, png_infop info, PngSource source, PngErrorState* state, PngLayout* out) {
  if (setjmp(state->jump)) return false;
  if (source.file)
    png_init_io(png, source.file);
  else
    png_set_read_fn(png, source.memory, read_from_memory);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_chunk_cache_max(png, 1000);
  png_set_chunk_malloc_max(png, png_alloc_size_t(64) << 20);
  // A CRC error means a damaged file. libpng stops on one in a critical chunk
  // but only warns and drops an ancillary one; a dropped transparency chunk
  // would silently change the channel count, so both end the load.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  // Only IHDR, PLTE, tRNS, IDAT and IEND shape the pixels; every other chunk
  // (colour space, text, unknown) is skipped unread, still CRC-checked. Kept
  // chunks would be read whole into memory, and libpng's chunk size limit is
  // only a warning, so one text chunk claiming 2 GB would allocate 2 GB.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);
  const int color_type = png_get_color_type(png, info);
  png_set_expand(png);  // palette to RGB, low-depth grey to 8 bits, tRNS to alpha
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->channels = png_get_channels(png, info);
  out->bit_depth = png_get_bit_depth(png, info);
  out->row_bytes = png_get_rowbytes(png, info);
  return true;
}

bool read_png_rows(png_structp png, png_infop info, png_bytepp rows, PngErrorState* state) {
  if (setjmp(state->jump)) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

// The float nearest v / max, formed in double precision.
std::vector<float> sample_table(unsigned max) {
  std::vector<float> table(max + 1);
  for (unsigned v = 0; v <= max; ++v) table[v] = float(double(v) / double(max));
  return table;
}

std::uint8_t to_byte(float value) {
  float c = !(value < 1.0f) ? 1.0f : value;  // NaN becomes 1
  c = !(c > 0.0f) ? 0.0f : c;
  return static_cast<std::uint8_t>(double(c) * 255.0);
}

// Row y of the image as 8-bit samples, channel after channel for each pixel.
void interleave_row(const Image& image, int y, unsigned char* out) {
  const int channels = image.channels;
  const std::size_t offset = std::size_t(y) * std::size_t(image.width);
  for (int c = 0; c < channels; ++c) {
    const float* row = image.plane(c) + offset;
    for (int x = 0; x < image.width; ++x) out[std::size_t(x) * channels + c] = to_byte(row[x]);
  }
}

// Decodes a whole PNG into a float image; `name` goes into the messages.
Image decode_png(PngSource source, const std::string& name) {
  PngErrorState state{};
  ReadStructs png;
  if (!create_read_structs(&state, &png.png, &png.info)) throw std::runtime_error("Cannot allocate PNG input");

  PngLayout layout{};
  if (!read_png_header(png.png, png.info, source, &state, &layout))
    throw std::runtime_error("Cannot decode PNG: " + name);
  // libpng already refuses both cases in the header; kept so the limit holds
  // whatever the library version does.
  if (layout.width > kMaxSide || layout.height > kMaxSide) throw std::runtime_error("Cannot decode PNG: " + name);
  if (layout.width == 0 || layout.height == 0) throw std::runtime_error("PNG dimensions are invalid: " + name);
  if ((layout.channels != 3 && layout.channels != 4) || (layout.bit_depth != 8 && layout.bit_depth != 16))
    throw std::runtime_error("Cannot convert PNG to float: " + name);

  // The header alone can promise gigabytes; refuse before allocating what the
  // decoded rows and the float image together would need.
  const std::uint64_t decoded_bytes = std::uint64_t(layout.row_bytes) * layout.height;
  const std::uint64_t image_bytes =
      std::uint64_t(layout.width) * layout.height * std::uint64_t(layout.channels) * sizeof(float);
  if (decoded_bytes + image_bytes > available_memory_bytes().value_or(UINT64_MAX))
    throw std::runtime_error("Cannot decode PNG: " + name + ": " + std::to_string(layout.width) + " x " +
                             std::to_string(layout.height) + " pixels need more memory than is available");

  // Left uninitialised: libpng writes every row, and a truncated file then
  // fails without first touching memory for rows it never reaches.
  std::unique_ptr<png_byte[]> pixels(new png_byte[decoded_bytes]);
  std::vector<png_bytep> rows(layout.height);
  for (png_uint_32 y = 0; y < layout.height; ++y) rows[y] = pixels.get() + std::size_t(y) * layout.row_bytes;
  if (!read_png_rows(png.png, png.info, rows.data(), &state))
    throw std::runtime_error("Cannot decode PNG: " + name);

  const int w = int(layout.width), h = int(layout.height), channels = layout.channels;
  Image image(w, h, channels);
  const std::vector<float> table = sample_table(layout.bit_depth == 16 ? 65535u : 255u);
  const std::size_t n = image.plane_size();
  for (int c = 0; c < channels; ++c) {
    float* plane = image.plane(c);
    if (layout.bit_depth == 8) {
      for (std::size_t i = 0; i < n; ++i) plane[i] = table[pixels[i * channels + c]];
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        const png_byte* s = &pixels[(i * channels + c) * 2];
        plane[i] = table[(unsigned(s[0]) << 8) | s[1]];  // PNG stores 16-bit samples big-endian
      }
    }
  }
  return image;
}

}  // namespace

Image load_png(const std::filesystem::path& path) {
  const std::string name = path.string();
  File file(open_regular_file(name));
  if (!file) throw std::runtime_error("Cannot open PNG: " + name);
  return decode_png(PngSource{file.get(), nullptr}, name);
}

Image load_png(const void* bytes, std::size_t size, const std::string& name) {
  MemorySource memory{static_cast<const unsigned char*>(bytes), size};
  return decode_png(PngSource{nullptr, &memory}, name);
}

std::optional<PngShape> read_png_shape(const std::filesystem::path& path) {
  File file(open_regular_file(path.string()));
  if (!file) return std::nullopt;
  PngErrorState state{};
  ReadStructs png;
  PngLayout layout{};
  if (!create_read_structs(&state, &png.png, &png.info) ||
      !read_png_header(png.png, png.info, PngSource{file.get(), nullptr}, &state, &layout))
    return std::nullopt;
  return PngShape{int(layout.width), int(layout.height), layout.channels,
                  std::uint64_t(layout.row_bytes) * layout.height};
}

void check_output_size(int width, int height) {
  if (width > kMaxPngSide || height > kMaxPngSide) throw std::runtime_error("Cannot allocate PNG output");
}

std::unique_ptr<OutputFile> open_png_output(const std::filesystem::path& path) {
  auto out = std::make_unique<OutputFile>(path);
  if (!out->is_open()) throw std::runtime_error("Cannot open output PNG: " + path.string());
  return out;
}

void save_png(const Image& image, const std::filesystem::path& path) {
  const std::unique_ptr<OutputFile> out = open_png_output(path);
  save_png(image, *out);
}

void save_png(const Image& image, OutputFile& out, const std::vector<PngText>& texts) {
  if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4) ||
      std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.channels) != image.data.size())
    throw std::invalid_argument("Invalid output image dimensions");
  if (image.width > kMaxPngSide || image.height > kMaxPngSide)
    throw std::runtime_error("Cannot allocate PNG output");

  const PngRowSource source{image.width, image.height, image.channels,
                            [&image](int y, unsigned char* row) { interleave_row(image, y, row); }};
  const std::string name = out.name().string();
  try {
    encode_png(
        source,
        [&out](const unsigned char* data, std::size_t size) {
          if (std::fwrite(data, 1, size, out.file()) != size) throw std::runtime_error("short write");
        },
        texts);
  } catch (const std::runtime_error&) {
    throw std::runtime_error("Cannot write output PNG: " + name);
  }
  if (!out.commit()) throw std::runtime_error("Cannot write output PNG: " + name);
}

}  // namespace neonvale
