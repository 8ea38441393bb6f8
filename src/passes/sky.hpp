#pragma once
// The sky step: night sky, striped sun and warped clouds. Writes colour,
// depth and emission.
#include <cstdint>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/rect.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

struct SkySample {
  float r, g, b;
  float depth;
  float emission;
};

// The sky of rows [0, rows) only, on planes held anywhere; the depth plane
// is written only when the view has one. The renderer stops where the
// ground covers every row, and keeps the sky's depth implicit. The cloud
// cover is computed only as far as those rows need it; the draws are the
// same whatever the row count. The colour and emission of the pixels in
// `overwritten` (runs for the first rows) are left as they are, for a caller
// that knows a later pass paints them over without reading them; a depth
// plane is still written, since that later pass tests it.
void paint_sky_rows(const ImagePlanes& scene, int aa_scale, std::uint32_t seed, int rows,
                    StepProgress* progress = nullptr, const RowRuns* overwritten = nullptr);
// The rows of cloud noise paint_sky_rows works out, and holds, for `rows`
// rows of a buffer `height` rows high: the blur and the warp reach below
// them.
int cloud_noise_rows(int height, int aa_scale, int rows);

// Pieces of the above, exposed so their worked values can be checked.
// The sun's stripe factor at row position v: 1 above v = 0.45, dark gaps below.
float sun_stripe(float v);
// Blurred noise q to cloud cover: 0 up to q = 0.4, capped at 0.88^1.2.
float shape_cloud(float q);
// The cloud blur radius for a buffer `height` samples high.
int cloud_blur_radius(int height);

}  // namespace neonvale
