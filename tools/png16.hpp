#pragma once
// The asset generator's PNG writer: 16-bit RGB or RGBA, so the assets store
// smooth steps (the renderer's own writer is 8-bit only).
#include <filesystem>
#include <vector>

#include "core/image.hpp"

namespace neonvale::assets {

// Writes width x height pixels of `channels` (3 or 4) interleaved values in
// 0..1, each clamped and rounded to the nearest of 65536 levels, at the given
// zlib compression level (-1 for the default). Throws std::runtime_error.
void save_png16(const std::vector<double>& values, int width, int height, int channels,
                const std::filesystem::path& path, int compression_level);
// The same for a 3- or 4-channel image.
void save_png16(const Image& image, const std::filesystem::path& path, int compression_level = -1);

}  // namespace neonvale::assets
