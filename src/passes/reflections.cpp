#include "passes/reflections.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "maths/batch_math.hpp"
#include "maths/clamp.hpp"
#include "core/parallel.hpp"
#include "core/sampling.hpp"

#include "filters/value_noise.hpp"
#include "passes/channels.hpp"

namespace neonvale {

namespace {

// Reads of the scene as it was before the pass. Only colour and emission
// change during the pass, and only on the rows that hold reflective pixels,
// so only those planes of those rows are copied; every other read goes to
// the scene itself, which holds the same values.
struct SceneBefore {
  const Image* scene;
  const Image* copy;  // planes 0, 1, 2 and emission of rows first..last
  int first, last;

  const float* row(int c, int y) const {
    if (y >= first && y <= last && (c <= kBlue || c == kEmission)) {
      const int plane = c == kEmission ? 3 : c;
      return copy->plane(plane) + std::size_t(y - first) * std::size_t(copy->width);
    }
    return scene->plane(c) + std::size_t(y) * std::size_t(scene->width);
  }
  float sample(int c, float x, float y) const {
    const PixelTaps t = pixel_taps(x, y, scene->width, scene->height, false);
    return sample_rows(row(c, t.y.i0), row(c, t.y.i1), t.x, t.y);
  }
};

// A whole copy of the scene, read as it is.
struct WholeCopy {
  const Image* copy;
  float sample(int c, float x, float y) const { return copy->sample(c, x, y, false); }
};

// Where a reflective pixel at (x, y) of a wf x hf scene looks, given its
// reflectivity, its noise and its depth: the point of the live mirror and the
// point of the backdrop.
struct Ripple {
  float live_x, live_y;
  float back_x, back_y;
};

// The ripple's four sine arguments at (x, y): two frequencies along each of
// two directions. The ripples are laid out for an image 1280 samples wide.
inline void ripple_phases(float x, float y, float wf, float phase[4]) {
  const float k = wf / 1280.0f;
  const float p1 = (0.004f * x + 0.14f * y) / k;
  const float p2 = (0.025f * x + 0.09f * y) / k;
  phase[0] = 0.6f * p1;
  phase[1] = 1.6f * p1;
  phase[2] = 0.6f * p2;
  phase[3] = 1.6f * p2;
}

// The ripple given the sines of its phases.
inline Ripple ripple(float x, float y, float rho, float noise, float d, float wf, float hf,
                     const float sine[4]) {
  const float k = wf / 1280.0f;
  const float r = clamp<NanGoes::kThrough>(rho, 0.0f, 1.0f);
  const float n = noise - 0.5f;

  // Near surfaces ripple fully, farther ones less in proportion to depth.
  const float u = 4.2f / std::max(d, 4.2f);

  // Fully reflective surfaces ripple at the lower spatial frequency.
  const float a = ((sine[0] * r + sine[1] * (1.0f - r)) * 9.0f + 70.0f * n) * k * u;
  const float c = ((sine[2] * r + sine[3] * (1.0f - r)) * 3.0f + 12.0f * n) * k * u;

  // The live mirror's distortion fades in from its mirror line to the bottom.
  const float s = clamp<NanGoes::kThrough>((y / hf - 0.825f) / 0.175f, 0.0f, 1.0f);
  const float s2 = s * s;

  // Live scene mirrored about 82.5 % of the height, backdrop about 59.5 %.
  return {x + s2 * a, 1.65f * hf - y + s2 * c, x + a, 1.19f * hf - y + c};
}

inline Ripple ripple(float x, float y, float rho, float noise, float d, float wf, float hf) {
  float sine[4];
  ripple_phases(x, y, wf, sine);
  for (float& s : sine) s = sinf(s);
  return ripple(x, y, rho, noise, d, wf, hf, sine);
}

template <class Before>
std::array<float, 4> reflect(const Before& copy, const Image& snapshot, float x, float y, float rho, float noise) {
  const float hf = float(snapshot.height);
  const Ripple to = ripple(x, y, rho, noise, copy.sample(kDepth, x, y), float(snapshot.width), hf);
  const float live_x = to.live_x, live_y = to.live_y, back_x = to.back_x, back_y = to.back_y;

  const float live = y > 0.825f * hf ? copy.sample(kRobot, live_x, live_y) : 0.0f;

  std::array<float, 4> result;
  for (int ch = kRed; ch <= kBlue; ++ch) {
    const float m = (1.0f - live) * snapshot.sample(ch, back_x, back_y, false) +
                    live * copy.sample(ch, live_x, live_y);
    result[ch] = rho * m * 0.72f + (1.0f - 0.48f * rho) * copy.sample(ch, x, y);
  }
  // The snapshot holds planes 0 to 4, so its emission is plane kEmission too.
  const float glow = (1.0f - live) * snapshot.sample(kEmission, back_x, back_y, false) +
                     live * copy.sample(kEmission, live_x, live_y);
  result[3] = copy.sample(kEmission, x, y) + glow * rho * 0.32f;
  return result;
}

}  // namespace

std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise) {
  return reflect(WholeCopy{&copy}, snapshot, x, y, rho, noise);
}

void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  const std::size_t stride = std::size_t(width);
  const float* reflectivity = scene.plane(kReflectivity);  // not written by this pass

  // The rows that hold a reflective pixel: the only rows the pass writes.
  int first = height, last = -1;
  for (int y = 0; y < height; ++y) {
    const float* row = reflectivity + std::size_t(y) * stride;
    for (int x = 0; x < width; ++x)
      if (row[x] > 0.0f) {
        first = std::min(first, y);
        last = y;
        break;
      }
  }
  const int rows = last >= first ? last - first + 1 : 0;
  // The noise takes about as long as a third of the reflective rows.
  if (progress) progress->set_total(rows + rows / 3);

  // Every read goes to the scene as it was, so no pixel sees another's reflection.
  Image copy(width, rows, 4);
  const int copied[4] = {kRed, kGreen, kBlue, kEmission};
  parallel_rows(rows, width, [&](int begin, int end) {
    for (int p = 0; p < 4; ++p)
      std::memcpy(copy.plane(p) + std::size_t(begin) * stride,
                  scene.plane(copied[p]) + std::size_t(first + begin) * stride,
                  std::size_t(end - begin) * stride * sizeof(float));
  });
  const Image noise = value_noise(width, height, seed, 1.0f);
  advance(progress, rows / 3);
  const SceneBefore before{&scene, &copy, first, last};

  const std::vector<float*> planes = scene.channel_pointers();
  parallel_rows(rows, width, [&](int begin, int end) {
    for (int y = first + begin; y < first + end; ++y) {
      const std::size_t offset = std::size_t(y) * stride;
      for (int x = 0; x < width; ++x) {
        const float rho = reflectivity[offset + std::size_t(x)];
        if (!(rho > 0.0f)) continue;
        const std::array<float, 4> out =
            reflect(before, snapshot, float(x), float(y), rho, noise.plane(0)[offset + std::size_t(x)]);
        planes[kRed][offset + std::size_t(x)] = out[0];
        planes[kGreen][offset + std::size_t(x)] = out[1];
        planes[kBlue][offset + std::size_t(x)] = out[2];
        planes[kEmission][offset + std::size_t(x)] = out[3];
      }
    }
    advance(progress, end - begin);
  });
}

// The in-place pass.
//
// Reads. A reflective pixel (x, y) reads, besides its own reflectivity, its
// row's noise and the robot coverage (neither of which the pass writes):
//   own:      colour and emission sampled at (x, y). The coordinates are whole,
//             so the weights of column x + 1 and row y + 1 are exactly 0, but
//             those pixels are read all the same;
//   live:     colour and emission sampled at (live_x, live_y), weighted by
//             `live`, which is exactly 0 on rows y <= 0.825 h;
//   backdrop: the backdrop sampled at (back_x, back_y).
// and its depth, which is the ground's depth of its row (reflective pixels are
// ground pixels that neither the knot nor the robot covered: both write
// reflectivity 0). The plain pass samples the depth plane at (x, y); with
// weights 1 and 0 that gives the pixel's own depth exactly, as every depth in
// the scene is finite.
//
// Rows. Only rows holding a reflective pixel are written; they lie in
// first..last. With the mirror line m, the first row with y > 0.825 h, the
// rows m..last (the bottom block) are done first, then first..m-1 (the top
// block), each block split into bands of whole rows that run in parallel, each
// band going down its rows and along each row from left to right.
//
// Every read must see the value from before the pass. A read of a row that
// holds no reflective pixel always does: that row is never written. For the
// other rows, the rows whose values a read may need after they were written,
// or while another band writes them, are copied before anything is written,
// and all reads of those rows go to the copies ("kept" rows below):
//   own, row y:      pixels x and x + 1 of the pixel's own row are read before
//                    the band writes them (x is written after its reads, x + 1
//                    later still);
//   own, row y + 1:  inside the band it is written later; the first row of the
//                    next band, or the first bottom row m for the top block's
//                    last band, is kept (a "seam");
//   live, bottom:    live_y = (1.65 h - y) + s2 c, where s2 in [0, 1] is the
//                    row's fade-in, so it lies within s2 times the bound of
//                    |c| around 1.65 h - y; the bottom rows among the rows
//                    sampled there are kept (normally only the mirror row m,
//                    which its own pixels read through the bilinear's second
//                    row, on either side of their own column); the top rows
//                    are not written yet;
//   live, top:       the weight is +0, and +0 times any finite value of sign
//                    bit clear is +0, so (1 - live) * back + live * v gives the
//                    same bits whatever such v is. Every colour and emission of
//                    the scene is finite and not negative (sums of products of
//                    non-negative terms), so v is replaced by 0 and the
//                    bottom block, already written, is not read at all (the
//                    written values are finite and not negative as well, so
//                    reading them would give the same bits, but also a read
//                    of other top rows while their bands write them);
//   backdrop:        back_y = (1.19 h - y) + c; inside the window the value
//                    comes from the window, which is never written; outside it
//                    from the scene. The written rows among those sampled are
//                    kept: for the top block all of them (other bands run at
//                    the same time, the bottom block is done), for the bottom
//                    block its own rows (the top rows are not written yet).
//                    Near the horizon the depth is large and the ripple small,
//                    so these are the first ground rows or none.
// The row bounds are safe: |c| <= 9 k u (see vertical_ripple_bound), and
// rounding a sum or a product is monotone in each operand, so the rounded
// coordinate lies between the rounded centre - bound and centre + bound;
// sample_tap's clamp, truncation and neighbour are monotone too, so the rows
// sampled lie between the taps of those two. One more row on each side is
// kept as a margin.
//
// Values. Each pixel is computed with the operations of `reflect` in the same
// order; the taps of one coordinate are derived once and used for all four
// planes, which gives the same values as deriving them per plane. The noise
// of a row is value_noise's row, computed on the fly.

namespace {

// The bound of the vertical ripple c of a pixel whose depth is `depth`:
// c = ((A * 3 + 12 n) * k) * u with A = sin(..) r + sin(..) (1 - r), where
// |sin| <= 1 and r, 1 - r lie in [0, 1], so |A| <= 1; the noise lies in
// [0, 1], so |12 n| <= 6. So |c| <= 9 k u up to a handful of roundings of
// 2^-24 each, far inside the 0.1 % added here, which its own three roundings
// cannot undo.
float vertical_ripple_bound(float k, float depth) {
  const float u = 4.2f / std::max(depth, 4.2f);
  return 9.0f * k * u * 1.001f;
}

// The rows a bilinear sample at row coordinate centre + e can read, for any
// float |e| <= bound, with a margin row on each side.
RowSpan rows_sampled(float centre, float bound, int height) {
  const SampleTap low = sample_tap(centre - bound, height, false);
  const SampleTap high = sample_tap(centre + bound, height, false);
  return RowSpan{std::max(low.i0 - 1, 0), std::min(high.i1 + 1, height - 1)};
}

// A row the ground covers: its depth is finite, positive and nearer than the
// sky's (rows the ground does not cover hold the sky's depth, or no number).
bool holds_ground(float depth) { return std::isfinite(depth) && depth > 0.0f && depth < kSkyDepth; }

// The colour and emission planes in the order of the window's planes.
constexpr int kMirrored[4] = {kRed, kGreen, kBlue, kEmission};

// Rows begin..end-1 in bands of about equal length, one per `grain` rows
// (rounded up) but no more than `most`. Where the bands are cut does not
// change a value: every read of another band's rows goes to a kept row.
struct Band {
  int begin, end;
};
std::vector<Band> bands_of(int begin, int end, int grain, int most) {
  std::vector<Band> bands;
  const long long rows = end - begin;
  if (rows <= 0) return bands;
  long long count = (rows + grain - 1) / grain;
  if (count > most) count = most;
  for (long long i = 0; i < count; ++i)
    bands.push_back(Band{begin + int(rows * i / count), begin + int(rows * (i + 1) / count)});
  return bands;
}

// Colour and emission as they were before the pass: kept rows from their
// copies, every other row from the scene; and the backdrop, from the window
// inside it and from those same values outside.
struct Before {
  int width = 0;
  std::vector<const float*> rows[4];  // per plane of kMirrored, per scene row
  const float* window[4] = {nullptr, nullptr, nullptr, nullptr};
  int wx0 = 0, wy0 = 0, ww = 0, wh = 0;

  // Image::sample's arithmetic on the values before the pass.
  float sample(int p, SampleTap x, SampleTap y) const {
    return sample_rows(rows[p][std::size_t(y.i0)], rows[p][std::size_t(y.i1)], x, y);
  }

  float backdrop_value(int p, int x, int y) const {
    const int i = x - wx0;
    const int j = y - wy0;
    if (i >= 0 && i < ww && j >= 0 && j < wh) return window[p][std::size_t(j) * std::size_t(ww) + std::size_t(i)];
    return rows[p][std::size_t(y)][x];
  }
  float backdrop(int p, SampleTap x, SampleTap y) const {
    const float top = (1.0f - x.f) * backdrop_value(p, x.i0, y.i0) + x.f * backdrop_value(p, x.i1, y.i0);
    const float bottom = (1.0f - x.f) * backdrop_value(p, x.i0, y.i1) + x.f * backdrop_value(p, x.i1, y.i1);
    return top * (1.0f - y.f) + bottom * y.f;
  }
};

}  // namespace

RowSpan backdrop_rows(int width, int height, const std::vector<float>& ground_depth) {
  if (ground_depth.size() != std::size_t(height > 0 ? height : 0))
    throw std::invalid_argument("the ground depth table needs one entry per row");
  const float k = float(width) / 1280.0f;
  const float hf = float(height);
  RowSpan span{height, -1};
  for (int y = 0; y < height; ++y) {
    const float d = ground_depth[std::size_t(y)];
    if (!holds_ground(d)) continue;
    const RowSpan rows = rows_sampled(1.19f * hf - float(y), vertical_ripple_bound(k, d), height);
    span.first = std::min(span.first, rows.first);
    span.last = std::max(span.last, rows.last);
  }
  return span.empty() ? RowSpan{} : span;
}

BackdropWindow capture_backdrop(const ImagePlanes& scene, int x0, int y0, int width, int height) {
  for (int c : kMirrored)
    if (c >= scene.channels || !scene[c]) throw std::invalid_argument("the backdrop needs colour and emission");
  const long long left = std::max(x0, 0);
  const long long right = std::min((long long)x0 + width, (long long)scene.width);
  const long long top = std::max(y0, 0);
  const long long bottom = std::min((long long)y0 + height, (long long)scene.height);
  BackdropWindow window;
  if (right <= left || bottom <= top) return window;
  window.x0 = int(left);
  window.y0 = int(top);
  window.planes = Image(int(right - left), int(bottom - top), 4);
  Image& planes = window.planes;
  const std::size_t row_bytes = std::size_t(planes.width) * sizeof(float);
  parallel_rows(planes.height, 4LL * planes.width, [&](int begin, int end) {
    for (int p = 0; p < 4; ++p)
      for (int j = begin; j < end; ++j)
        std::memcpy(planes.plane(p) + std::size_t(j) * std::size_t(planes.width),
                    scene.row(kMirrored[p], window.y0 + j) + window.x0, row_bytes);
  });
  return window;
}

void add_reflections_in_place(const ImagePlanes& scene, const BackdropWindow& backdrop,
                              const std::vector<float>& ground_depth, std::uint32_t seed, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  for (int c : {kRed, kGreen, kBlue, kEmission, kRobot, kReflectivity})
    if (c >= scene.channels || !scene[c])
      throw std::invalid_argument("reflections need colour, emission, robot coverage and reflectivity");
  if (ground_depth.size() != std::size_t(height))
    throw std::invalid_argument("the ground depth table needs one entry per row");
  const Image& window = backdrop.planes;
  const bool has_window = window.width > 0 && window.height > 0;
  if (has_window && (window.channels != 4 || backdrop.x0 < 0 || backdrop.y0 < 0 ||
                     (long long)backdrop.x0 + window.width > width ||
                     (long long)backdrop.y0 + window.height > height))
    throw std::invalid_argument("the backdrop window must be four planes inside the scene");

  const std::size_t stride = std::size_t(width);
  const float* reflectivity = scene[kReflectivity];  // not written by this pass
  const float* robot = scene[kRobot];                // nor this

  // The rows that hold a reflective pixel: the only rows the pass writes.
  std::vector<char> reflective(std::size_t(height), 0);
  parallel_rows(height, width, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* row = reflectivity + std::size_t(y) * stride;
      for (int x = 0; x < width; ++x)
        if (row[x] > 0.0f) {
          reflective[std::size_t(y)] = 1;
          break;
        }
    }
  });
  int first = 0;
  while (first < height && !reflective[std::size_t(first)]) ++first;
  int last = height - 1;
  while (last >= first && !reflective[std::size_t(last)]) --last;
  if (last < first) return;
  if (progress) progress->set_total(last - first + 1);
  for (int y = first; y <= last; ++y)
    if (reflective[std::size_t(y)] && !holds_ground(ground_depth[std::size_t(y)]))
      throw std::invalid_argument("the ground depth table has no depth for a reflective row");

  const float wf = float(width);
  const float hf = float(height);
  const float k = wf / 1280.0f;  // as the ripples reckon it
  int mirror = first;            // the first row of the bottom block
  while (mirror <= last && !(float(mirror) > 0.825f * hf)) ++mirror;

  const int grain = row_grain(width);
  const int most = 8 * thread_count();
  const std::vector<Band> bottom_bands = bands_of(mirror, last + 1, grain, most);
  const std::vector<Band> top_bands = bands_of(first, mirror, grain, most);

  // The kept rows (see above): seams, and the written rows live and backdrop
  // reads can reach while or after they are written.
  std::vector<char> keep(std::size_t(height), 0);
  const auto keep_written = [&](RowSpan rows, int lowest, int highest) {
    for (int r = std::max(rows.first, lowest); r <= std::min(rows.last, highest); ++r)
      if (reflective[std::size_t(r)]) keep[std::size_t(r)] = 1;
  };
  for (const std::vector<Band>* bands : {&bottom_bands, &top_bands})
    for (const Band& band : *bands)
      if (band.end <= last && reflective[std::size_t(band.end)] && reflective[std::size_t(band.end - 1)])
        keep[std::size_t(band.end)] = 1;
  for (int y = first; y <= last; ++y) {
    if (!reflective[std::size_t(y)]) continue;
    const float fy = float(y);
    const float bound = vertical_ripple_bound(k, ground_depth[std::size_t(y)]);
    const RowSpan back = rows_sampled(1.19f * hf - fy, bound, height);
    if (y >= mirror) {
      // The live mirror's ripple is s2 c, which fades in from the mirror
      // line: |s2 c| <= s2 |c|, and rounding the product is monotone.
      const float s = clamp<NanGoes::kThrough>((fy / hf - 0.825f) / 0.175f, 0.0f, 1.0f);
      keep_written(back, mirror, last);
      keep_written(rows_sampled(1.65f * hf - fy, s * s * bound, height), mirror, last);
    } else {
      keep_written(back, first, last);
    }
  }

  std::vector<int> kept_rows;
  for (int y = first; y <= last; ++y)
    if (keep[std::size_t(y)]) kept_rows.push_back(y);
  Image kept(width, int(kept_rows.size()), 4);
  parallel_rows(int(kept_rows.size()), 4LL * width, [&](int begin, int end) {
    for (int p = 0; p < 4; ++p)
      for (int i = begin; i < end; ++i)
        std::memcpy(kept.plane(p) + std::size_t(i) * stride, scene.row(kMirrored[p], kept_rows[std::size_t(i)]),
                    stride * sizeof(float));
  });

  Before before;
  before.width = width;
  for (int p = 0; p < 4; ++p) {
    before.rows[p].resize(std::size_t(height));
    for (int y = 0; y < height; ++y) before.rows[p][std::size_t(y)] = scene.row(kMirrored[p], y);
    for (std::size_t i = 0; i < kept_rows.size(); ++i)
      before.rows[p][std::size_t(kept_rows[i])] = kept.plane(p) + i * stride;
    if (has_window) before.window[p] = window.plane(p);
  }
  if (has_window) {
    before.wx0 = backdrop.x0;
    before.wy0 = backdrop.y0;
    before.ww = window.width;
    before.wh = window.height;
  }

  const NoiseRows noise(width, height, seed, 1.0f);
  float* const out[4] = {scene[kRed], scene[kGreen], scene[kBlue], scene[kEmission]};

  const auto reflect_row = [&](int y, float* noise_row) {
    if (!reflective[std::size_t(y)]) return;
    noise.fill_row(y, noise_row);
    const std::size_t offset = std::size_t(y) * stride;
    const float fy = float(y);
    const float d = ground_depth[std::size_t(y)];
    const bool live_mirror = fy > 0.825f * hf;
    const SampleTap own_y = sample_tap(fy, height, false);
    // The row's reflective pixels a run at a time: their ripple phases, the
    // sines of all of them together, then each pixel.
    constexpr int kRun = 256;
    int column[kRun];
    float sine[4 * kRun];
    for (int run_start = 0; run_start < width; run_start += kRun) {
      const int run_end = std::min(width, run_start + kRun);
      int count = 0;
      for (int x = run_start; x < run_end; ++x)
        if (reflectivity[offset + std::size_t(x)] > 0.0f) {
          column[count] = x;
          ripple_phases(float(x), fy, wf, sine + 4 * count);
          ++count;
        }
      sines(sine, sine, 4 * std::size_t(count));
      for (int j = 0; j < count; ++j) {
        const int x = column[j];
        const float rho = reflectivity[offset + std::size_t(x)];
        const float fx = float(x);
        const Ripple to = ripple(fx, fy, rho, noise_row[x], d, wf, hf, sine + 4 * j);
        const SampleTap own_x = sample_tap(fx, width, false);
        const SampleTap back_tx = sample_tap(to.back_x, width, false);
        const SampleTap back_ty = sample_tap(to.back_y, height, false);
        SampleTap live_tx{0, 0, 0.0f}, live_ty{0, 0, 0.0f};
        float live = 0.0f;
        if (live_mirror) {
          live_tx = sample_tap(to.live_x, width, false);
          live_ty = sample_tap(to.live_y, height, false);
          live = sample_taps(robot, width, live_tx, live_ty);
        }

        float result[4];
        for (int p = 0; p < 4; ++p) {
          const float back = before.backdrop(p, back_tx, back_ty);
          // Above the mirror line `live` is +0: the stand-in 0 gives the bits
          // of any finite, non-negative live value (see above).
          const float mirrored = live_mirror ? before.sample(p, live_tx, live_ty) : 0.0f;
          const float own = before.sample(p, own_x, own_y);
          const float m = (1.0f - live) * back + live * mirrored;
          result[p] = p < 3 ? rho * m * 0.72f + (1.0f - 0.48f * rho) * own : own + m * rho * 0.32f;
        }
        for (int p = 0; p < 4; ++p) out[p][offset + std::size_t(x)] = result[p];
      }
    }
  };

  // The bottom block first, so that its live reads find the top block as it was.
  for (const std::vector<Band>* bands : {&bottom_bands, &top_bands}) {
    parallel_for(int(bands->size()), [&](int begin, int end) {
      std::vector<float> noise_row(stride);
      for (int b = begin; b < end; ++b) {
        const Band band = (*bands)[std::size_t(b)];
        for (int y = band.begin; y < band.end; ++y) reflect_row(y, noise_row.data());
        advance(progress, band.end - band.begin);
      }
    });
  }
}

}  // namespace neonvale
