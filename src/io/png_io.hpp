#pragma once
// PNG files <-> float images, on libpng directly. No gamma or colour-profile
// conversion happens either way: file values scaled to 0..1 are image values.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/image.hpp"
#include "io/output_file.hpp"
#include "io/png_encoder.hpp"

namespace neonvale {

// The widest and tallest PNG read or written: 23170^2 RGBA floats still fit a
// signed 32-bit element count.
constexpr int kMaxPngSide = 23170;

// 3 channels (RGB) or 4 (RGBA when the file has alpha or a transparency
// chunk). An 8-bit value v loads as the float nearest v / 255, a 16-bit one as
// v / 65535. Throws std::runtime_error naming the path on any failure.
Image load_png(const std::filesystem::path& path);
// The same from the bytes of a PNG held in memory; `name` stands for the path
// in the messages.
Image load_png(const void* bytes, std::size_t size, const std::string& name);

// What load_png makes of a file, from its header alone: the float image's
// size and channels, and the bytes of the decoded rows it holds beside that
// image while it loads. Empty when the header cannot be read.
struct PngShape {
  int width = 0, height = 0, channels = 0;
  std::uint64_t decoded_bytes = 0;
  std::uint64_t float_bytes() const {
    return std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(channels) * sizeof(float);
  }
};
std::optional<PngShape> read_png_shape(const std::filesystem::path& path);

// Writes an 8-bit RGB (3 channels) or RGBA (4 channels) PNG with a "Software"
// text chunk. Values are clamped to 0..1 (NaN to 1) and truncated after
// scaling by 255. A side above kMaxPngSide is refused. The file goes out
// through an OutputFile (io/output_file.hpp): a regular file is written
// beside the target and renamed over it only once complete, so a failed save
// never leaves a broken or half-written file and never destroys an existing
// one. Throws "Cannot open output PNG: <path>" or "Cannot write output PNG:
// <path>".
void save_png(const Image& image, const std::filesystem::path& path);

// Opens `path` for a later save_png, so that a program can learn that its
// output cannot be written before it spends minutes making the picture.
// Throws std::runtime_error("Cannot open output PNG: <path>").
std::unique_ptr<OutputFile> open_png_output(const std::filesystem::path& path);
// save_png into an output opened by open_png_output, which it commits;
// `texts` go into text chunks after the "Software" one.
void save_png(const Image& image, OutputFile& out, const std::vector<PngText>& texts = {});

// Throws std::runtime_error("Cannot allocate PNG output"), the writer's
// refusal, for a picture wider or taller than kMaxPngSide, so that such a
// render can be refused before it starts.
void check_output_size(int width, int height);

}  // namespace neonvale
