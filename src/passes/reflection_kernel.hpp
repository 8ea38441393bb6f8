#pragma once
// The reflections' arithmetic, written once: the look of the mirror, the
// kernel that works out one reflective pixel from a sampler, and the order in
// which the in-place driver visits rows. Both drivers (reflections.cpp and
// reflections_reference.cpp) and the tests use it; the renderer's API is
// reflections.hpp.
//
// A sampler says where the kernel's reads come from. It has the scene's
// `width` and `height` and gives, for the taps of a position, the values as
// they were before the pass:
//   scene(p, taps)     colour (p = 0, 1, 2) and emission (p = 3) of the scene
//   backdrop(p, taps)  the same of the backdrop: the scene before the robot
//   robot(taps)        the robot figure's coverage
// The plain driver's sampler reads whole images; the in-place driver's reads
// the scene itself, with copies of the rows it would otherwise read after
// writing them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "core/rect.hpp"
#include "core/sampling.hpp"
#include "maths/clamp.hpp"
#include "passes/channels.hpp"

namespace neonvale {

// The look of the mirror.
namespace mirror {
// The ripples are laid out for a buffer this many samples wide.
constexpr float kLayoutWidth = 1280.0f;
// Below kLiveLine of the height the ground mirrors the live scene (with the
// robot) about that line: row y shows row kLiveAxis h - y. The live ripple
// fades in over the rows from the line to the bottom, kLiveFade of the
// height.
constexpr float kLiveLine = 0.825f;
constexpr float kLiveAxis = 1.65f;
constexpr float kLiveFade = 0.175f;
// Every reflective row mirrors the backdrop about the horizon, 59.5 % of the
// height: row y shows row kBackdropAxis h - y.
constexpr float kBackdropAxis = 1.19f;
// Surfaces nearer than this depth ripple fully, farther ones less in
// proportion to their depth.
constexpr float kFullRippleDepth = 4.2f;
// The ripple's sway across and down, from its waves and from the noise
// (which lies in [0, 1], centred at 0.5), in samples of the layout width.
constexpr float kWaveAcross = 9.0f;
constexpr float kNoiseAcross = 70.0f;
constexpr float kWaveDown = 3.0f;
constexpr float kNoiseDown = 12.0f;
}  // namespace mirror

// The colour planes and emission, in the order a sampler numbers them.
constexpr int kMirrored[4] = {kRed, kGreen, kBlue, kEmission};

// Scale of the ripples' layout in a buffer `width` samples wide.
inline float ripple_scale(float width) { return width / mirror::kLayoutWidth; }
// How much of the ripple a surface at `depth` shows.
inline float ripple_share(float depth) {
  return mirror::kFullRippleDepth / std::max(depth, mirror::kFullRippleDepth);
}
// Whether row y of a buffer `height` rows high mirrors the live scene.
inline bool on_live_mirror(float y, float height) { return y > mirror::kLiveLine * height; }
// The share of its ripple that the live mirror shows on row y.
inline float live_fade(float y, float height) {
  return clamp<NanGoes::kThrough>((y / height - mirror::kLiveLine) / mirror::kLiveFade, 0.0f, 1.0f);
}
// The rows row y mirrors, before the ripple: of the live scene, of the backdrop.
inline float live_row(float y, float height) { return mirror::kLiveAxis * height - y; }
inline float backdrop_row(float y, float height) { return mirror::kBackdropAxis * height - y; }
// The most the ripple moves a read of a surface at `depth` up or down (its
// reach): the waves' weights add to 1 at most and the noise lies within 0.5 of
// its centre; 0.1 % more covers the roundings.
inline float ripple_reach(float width, float depth) {
  return (mirror::kWaveDown + mirror::kNoiseDown * 0.5f) * ripple_scale(width) * ripple_share(depth) * 1.001f;
}

// The four sine arguments of the ripple at (x, y): two frequencies along each
// of two directions.
inline void ripple_phases(float x, float y, float width, float phase[4]) {
  const float k = ripple_scale(width);
  const float p1 = (0.004f * x + 0.14f * y) / k;
  const float p2 = (0.025f * x + 0.09f * y) / k;
  phase[0] = 0.6f * p1;
  phase[1] = 1.6f * p1;
  phase[2] = 0.6f * p2;
  phase[3] = 1.6f * p2;
}

// One reflective pixel: its position (whole numbers), reflectivity, ripple
// noise and depth, and the sines of its ripple_phases.
struct ReflectInputs {
  float x, y;
  float rho;
  float noise;
  float depth;
  const float* sine;
};

// Where the pixel looks: a point of the live scene and a point of the backdrop.
struct Ripple {
  float live_x, live_y;
  float back_x, back_y;
};

inline Ripple ripple(const ReflectInputs& in, float width, float height) {
  const float k = ripple_scale(width);
  const float r = clamp<NanGoes::kThrough>(in.rho, 0.0f, 1.0f);
  const float n = in.noise - 0.5f;
  const float u = ripple_share(in.depth);
  // Fully reflective surfaces ripple at the lower spatial frequency.
  const float* s = in.sine;
  const float a = ((s[0] * r + s[1] * (1.0f - r)) * mirror::kWaveAcross + mirror::kNoiseAcross * n) * k * u;
  const float c = ((s[2] * r + s[3] * (1.0f - r)) * mirror::kWaveDown + mirror::kNoiseDown * n) * k * u;
  const float fade = live_fade(in.y, height);
  const float f2 = fade * fade;
  return {in.x + f2 * a, live_row(in.y, height) + f2 * c, in.x + a, backdrop_row(in.y, height) + c};
}

// The kernel: new colour and emission of one reflective pixel. Above the
// live mirror line the live scene does not enter and is not read.
template <class Sampler>
std::array<float, 4> reflect(const Sampler& before, const ReflectInputs& in) {
  const int w = before.width;
  const int h = before.height;
  const Ripple to = ripple(in, float(w), float(h));
  const PixelTaps own = pixel_taps(in.x, in.y, w, h, false);
  const PixelTaps back = pixel_taps(to.back_x, to.back_y, w, h, false);
  const bool live_mirror = on_live_mirror(in.y, float(h));
  PixelTaps live_at{};
  float live = 0.0f;
  if (live_mirror) {
    live_at = pixel_taps(to.live_x, to.live_y, w, h, false);
    live = before.robot(live_at);
  }
  std::array<float, 4> out;
  for (int p = 0; p < 4; ++p) {
    const float mirrored = live_mirror ? before.scene(p, live_at) : 0.0f;
    const float m = (1.0f - live) * before.backdrop(p, back) + live * mirrored;
    const float here = before.scene(p, own);
    out[std::size_t(p)] =
        p < 3 ? in.rho * m * 0.72f + (1.0f - 0.48f * in.rho) * here : here + m * in.rho * 0.32f;
  }
  return out;
}

// The order in which the in-place driver writes, and the rows it keeps. The
// reflective rows (those holding a pixel with reflectivity above 0, the only
// rows written) lie in `rows`. Those from the live mirror line down (the
// bottom block) are done first, then those above it (the top block); each
// block in bands that run side by side, each band row by row from the top,
// each row from the left.
//
// The kept-row rule: a reflective row is copied before anything is written,
// and every read of it goes to the copy, unless every read of it comes
// before its write whatever the threads do: the row is in a block that runs
// later than the reader's, or in the reader's own band below the reader, or
// it is the reader's own row at or right of the reader's column. A pixel
// reads its own row at its column and the next, the row below through the
// same taps (the first row of the next band: a "seam"), and the rows its
// live and backdrop reads can reach, within ripple_reach of live_row and
// backdrop_row. A test checks every read the kernel makes against the
// schedule.
struct ReflectionSchedule {
  Span rows;                 // first to last reflective row
  int mirror = 0;            // the first row of the bottom block
  std::vector<Span> bottom;  // bands of [mirror, rows.end)
  std::vector<Span> top;     // bands of [rows.begin, mirror)
  std::vector<char> kept;    // per row of the buffer
};

// The schedule for the rows flagged in `reflective` (one entry per row) of a
// width x height buffer whose reflective rows have the depths
// `ground_depth`, in bands of at least `grain` rows and at most `most` per
// block.
ReflectionSchedule schedule_reflections(const std::vector<char>& reflective, const std::vector<float>& ground_depth,
                                        int width, int height, int grain, int most);

}  // namespace neonvale
