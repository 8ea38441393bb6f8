#pragma once
// PNG files <-> float images, on libpng directly. No gamma or colour-profile
// conversion happens either way: file values scaled to 0..1 are image values.
#include <filesystem>

#include "image/image.hpp"

namespace neonvale {

// The widest and tallest PNG read or written: 23170^2 RGBA floats still fit a
// signed 32-bit element count.
constexpr int kMaxPngSide = 23170;

// 3 channels (RGB) or 4 (RGBA when the file has alpha or a transparency
// chunk). An 8-bit value v loads as the float nearest v / 255, a 16-bit one as
// v / 65535. Throws std::runtime_error naming the path on any failure.
Image load_png(const std::filesystem::path& path);

// Writes an 8-bit RGB (3 channels) or RGBA (4 channels) PNG with a "Software"
// text chunk. Values are clamped to 0..1 (NaN to 1) and truncated after
// scaling by 255. A side above kMaxPngSide is refused. The file is
// written beside the target under a temporary name and renamed over it only
// once complete, so a failed save never leaves a broken or half-written file
// and never destroys an existing one.
void save_png(const Image& image, const std::filesystem::path& path);

}  // namespace neonvale
