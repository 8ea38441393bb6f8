#pragma once
// Pass A: night sky, striped sun and warped clouds. Writes planes 0..4.
#include <cstdint>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/pixel_runs.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

struct SkySample {
  float r, g, b;
  float depth;
  float emission;
};

// One-channel cloud cover of width x height, values in [0, 0.88^1.2].
// Counts nine units of `progress` per row.
Image cloud_cover(int width, int height, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);
// The five values of one sky pixel; only the scene's size is read.
SkySample sky_sample(const Image& scene, float u, float v, float cloud, int aa_scale);
void paint_sky(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);
// paint_sky for rows [0, rows) only, on planes held anywhere; the depth plane
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

// sky_sample split by what each term depends on, so the pass computes the
// row and column terms once; sky_sample is built from the same pieces.
struct SkyRow {
  float band;    // horizon band
  float dv;      // height above the sun's centre
  float stripe;  // the sun's stripe factor
  float light;   // cloud light before the cloud cover
};
struct SkyColumn {
  float sin13u;
  float du;  // distance from the sun's centre across, in units of the height
};
// The three waves of the red-orange band, which depend on both u and v.
struct SkyWaves {
  float streak, wave, swirl;
};
SkyRow sky_row(float v);
SkyColumn sky_column(float u, float width, float height);
SkyWaves sky_waves(const SkyColumn& column, float u, float v);
// sky_waves for n pixels of one row: pixel i at u[i], under column[i].
void sky_waves_run(const SkyColumn* column, const float* u, float v, int n, SkyWaves* out);
SkySample sky_shade(const SkyRow& row, const SkyColumn& column, const SkyWaves& waves, float cloud, float height,
                    int aa_scale);

// Pieces of the above, exposed so their worked values can be checked.
// The sun's stripe factor at row position v: 1 above v = 0.45, dark gaps below.
float sun_stripe(float v);
// Blurred noise q to cloud cover: 0 up to q = 0.4, capped at 0.88^1.2.
float shape_cloud(float q);
// x^0.75 for the swirl's weight, x in [0.5, 1]: the power taken in double
// precision and rounded to float, float(pow(double(x), 0.75)), bit for bit,
// without the cost of a general pow on nearly every call.
float swirl_power(float x);
// The cloud blur radius for a buffer `height` samples high.
int cloud_blur_radius(int height);

}  // namespace neonvale
