#include "passes/reflections.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "core/parallel.hpp"
#include "core/sampling.hpp"
#include "filters/value_noise.hpp"
#include "maths/batch_math.hpp"
#include "passes/channels.hpp"
#include "passes/reflection_kernel.hpp"

namespace neonvale {

namespace {

// The rows a bilinear sample at row coordinate centre + e can read, for any
// float |e| <= reach, with a margin row on each side (rounding is monotone,
// and so is sample_tap).
Span rows_sampled(float centre, float reach, int height) {
  const SampleTap low = sample_tap(centre - reach, height, false);
  const SampleTap high = sample_tap(centre + reach, height, false);
  return Span{std::max(low.i0 - 1, 0), std::min(high.i1 + 2, height)};
}

// A row the ground covers: its depth is finite, positive and nearer than the
// sky's (rows the ground does not cover hold the sky's depth, or no number).
bool holds_ground(float depth) { return std::isfinite(depth) && depth > 0.0f && depth < kSkyDepth; }

// Rows begin..end-1 in bands of about equal length, one per `grain` rows
// (rounded up) but no more than `most`.
std::vector<Span> bands_of(int begin, int end, int grain, int most) {
  std::vector<Span> bands;
  const long long rows = end - begin;
  if (rows <= 0) return bands;
  long long count = (rows + grain - 1) / grain;
  if (count > most) count = most;
  for (long long i = 0; i < count; ++i)
    bands.push_back(Span{begin + int(rows * i / count), begin + int(rows * (i + 1) / count)});
  return bands;
}

// Colour and emission as they were before the pass, for the kernel: kept rows
// from their copies, every other row from the scene; the backdrop from the
// window inside it and from those same values outside; the robot's coverage,
// which the pass does not write, from the scene.
struct RowsBefore {
  int width = 0, height = 0;
  std::vector<const float*> rows[4];  // per plane of kMirrored, per scene row
  const float* robot_plane = nullptr;
  const float* window[4] = {nullptr, nullptr, nullptr, nullptr};
  Rect window_area;  // empty when there is no window

  float scene(int p, const PixelTaps& t) const {
    return sample_rows(rows[p][std::size_t(t.y.i0)], rows[p][std::size_t(t.y.i1)], t.x, t.y);
  }
  float robot(const PixelTaps& t) const { return sample_taps(robot_plane, width, t.x, t.y); }
  float backdrop_value(int p, int x, int y) const {
    const Rect& w = window_area;
    if (x >= w.x0 && x < w.x1 && y >= w.y0 && y < w.y1)
      return window[p][std::size_t(y - w.y0) * std::size_t(w.width()) + std::size_t(x - w.x0)];
    return rows[p][std::size_t(y)][x];
  }
  float backdrop(int p, const PixelTaps& t) const {
    const SampleTap x = t.x, y = t.y;
    return bilinear(backdrop_value(p, x.i0, y.i0), backdrop_value(p, x.i1, y.i0), backdrop_value(p, x.i0, y.i1),
                    backdrop_value(p, x.i1, y.i1), x.f, y.f);
  }
};

void check_inputs(const ImagePlanes& scene, const BackdropWindow& backdrop, const std::vector<float>& ground_depth) {
  for (int c : {kRed, kGreen, kBlue, kEmission, kRobot, kReflectivity})
    if (c >= scene.channels || !scene[c])
      throw std::invalid_argument("reflections need colour, emission, robot coverage and reflectivity");
  if (ground_depth.size() != std::size_t(scene.height))
    throw std::invalid_argument("the ground depth table needs one entry per row");
  const Image& window = backdrop.planes;
  if (window.width > 0 && window.height > 0 &&
      (window.channels != 4 || backdrop.x0 < 0 || backdrop.y0 < 0 ||
       (long long)backdrop.x0 + window.width > scene.width || (long long)backdrop.y0 + window.height > scene.height))
    throw std::invalid_argument("the backdrop window must be four planes inside the scene");
}

// Per row, whether it holds a pixel of reflectivity above 0.
std::vector<char> reflective_rows(const ImagePlanes& scene) {
  std::vector<char> reflective(std::size_t(scene.height), 0);
  parallel_rows(scene.height, scene.width, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* row = scene.row(kReflectivity, y);
      reflective[std::size_t(y)] = std::any_of(row, row + scene.width, [](float rho) { return rho > 0.0f; });
    }
  });
  return reflective;
}

// Copies of the given rows of colour and emission, row i of each plane
// holding scene row rows[i].
Image copy_rows(const ImagePlanes& scene, const std::vector<int>& rows) {
  const std::size_t stride = std::size_t(scene.width);
  Image copy(scene.width, int(rows.size()), 4);
  parallel_rows(int(rows.size()), 4LL * scene.width, [&](int begin, int end) {
    for (int p = 0; p < 4; ++p)
      for (int i = begin; i < end; ++i)
        std::memcpy(copy.plane(p) + std::size_t(i) * stride, scene.row(kMirrored[p], rows[std::size_t(i)]),
                    stride * sizeof(float));
  });
  return copy;
}

// The sampler over the scene, the kept rows (row i of `kept` is scene row
// kept_rows[i]) and the window.
RowsBefore rows_before(const ImagePlanes& scene, const Image& kept, const std::vector<int>& kept_rows,
                       const BackdropWindow& backdrop) {
  RowsBefore before;
  before.width = scene.width;
  before.height = scene.height;
  before.robot_plane = scene[kRobot];
  for (int p = 0; p < 4; ++p) {
    before.rows[p].resize(std::size_t(scene.height));
    for (int y = 0; y < scene.height; ++y) before.rows[p][std::size_t(y)] = scene.row(kMirrored[p], y);
    for (std::size_t i = 0; i < kept_rows.size(); ++i)
      before.rows[p][std::size_t(kept_rows[i])] = kept.plane(p) + i * std::size_t(scene.width);
  }
  if (!backdrop.area().empty()) {
    for (int p = 0; p < 4; ++p) before.window[p] = backdrop.planes.plane(p);
    before.window_area = backdrop.area();
  }
  return before;
}

// Writes the reflective pixels of row y: a run of them at a time, the sines
// of all their ripple phases together, then the kernel for each.
void reflect_row(const ImagePlanes& scene, const RowsBefore& before, const NoiseRows& noise, float depth, int y,
                 float* noise_row) {
  noise.fill_row(y, noise_row);
  const float* reflectivity = scene.row(kReflectivity, y);
  float* const out[4] = {scene.row(kRed, y), scene.row(kGreen, y), scene.row(kBlue, y), scene.row(kEmission, y)};
  const float fy = float(y);
  const float wf = float(scene.width);
  constexpr int kRun = 256;
  int column[kRun];
  float sine[4 * kRun];
  for (int run_start = 0; run_start < scene.width; run_start += kRun) {
    const int run_end = std::min(scene.width, run_start + kRun);
    int count = 0;
    for (int x = run_start; x < run_end; ++x)
      if (reflectivity[x] > 0.0f) {
        column[count] = x;
        ripple_phases(float(x), fy, wf, sine + 4 * count);
        ++count;
      }
    sines(sine, sine, 4 * std::size_t(count));
    for (int j = 0; j < count; ++j) {
      const int x = column[j];
      const std::array<float, 4> v =
          reflect(before, ReflectInputs{float(x), fy, reflectivity[x], noise_row[x], depth, sine + 4 * j});
      for (int p = 0; p < 4; ++p) out[p][x] = v[std::size_t(p)];
    }
  }
}

}  // namespace

ReflectionSchedule schedule_reflections(const std::vector<char>& reflective, const std::vector<float>& ground_depth,
                                        int width, int height, int grain, int most) {
  ReflectionSchedule s;
  int first = 0;
  while (first < height && !reflective[std::size_t(first)]) ++first;
  int end = height;
  while (end > first && !reflective[std::size_t(end - 1)]) --end;
  s.rows = Span{first, end};
  s.kept.assign(std::size_t(std::max(height, 0)), 0);
  if (s.rows.empty()) return s;
  const float hf = float(height);
  s.mirror = first;
  while (s.mirror < end && !on_live_mirror(float(s.mirror), hf)) ++s.mirror;
  s.bottom = bands_of(s.mirror, end, grain, most);
  s.top = bands_of(first, s.mirror, grain, most);

  // The reflective rows of `reach` within `written`.
  const auto keep = [&](Span reach, Span written) {
    for (int r = std::max(reach.begin, written.begin); r < std::min(reach.end, written.end); ++r)
      if (reflective[std::size_t(r)]) s.kept[std::size_t(r)] = 1;
  };
  // Seams: the row below a band's last row belongs to another band.
  for (const std::vector<Span>* bands : {&s.bottom, &s.top})
    for (const Span& band : *bands)
      if (band.end < end && reflective[std::size_t(band.end)] && reflective[std::size_t(band.end - 1)])
        s.kept[std::size_t(band.end)] = 1;
  // Live and backdrop reads: a bottom pixel's reach the bottom rows only (the
  // top ones are not written yet); a top pixel's all rows (the bottom block
  // is done, the other top bands run beside its own). The live ripple fades
  // in from the mirror line, so its reach shrinks with the fade's square.
  for (int y = first; y < end; ++y) {
    if (!reflective[std::size_t(y)]) continue;
    const float fy = float(y);
    const float reach = ripple_reach(float(width), ground_depth[std::size_t(y)]);
    const Span written{y >= s.mirror ? s.mirror : first, end};
    keep(rows_sampled(backdrop_row(fy, hf), reach, height), written);
    if (y >= s.mirror) {
      const float fade = live_fade(fy, hf);
      keep(rows_sampled(live_row(fy, hf), fade * fade * reach, height), written);
    }
  }
  return s;
}

Span backdrop_rows(int width, int height, const std::vector<float>& ground_depth) {
  if (ground_depth.size() != std::size_t(height > 0 ? height : 0))
    throw std::invalid_argument("the ground depth table needs one entry per row");
  const float hf = float(height);
  Span span{height, 0};
  for (int y = 0; y < height; ++y) {
    const float d = ground_depth[std::size_t(y)];
    if (!holds_ground(d)) continue;
    const Span rows = rows_sampled(backdrop_row(float(y), hf), ripple_reach(float(width), d), height);
    span.begin = std::min(span.begin, rows.begin);
    span.end = std::max(span.end, rows.end);
  }
  return span.empty() ? Span{} : span;
}

BackdropWindow capture_backdrop(const ImagePlanes& scene, const Rect& area) {
  for (int c : kMirrored)
    if (c >= scene.channels || !scene[c]) throw std::invalid_argument("the backdrop needs colour and emission");
  const Rect clipped{std::max(area.x0, 0), std::max(area.y0, 0), std::min(area.x1, scene.width),
                     std::min(area.y1, scene.height)};
  BackdropWindow window;
  if (clipped.empty()) return window;
  window.x0 = clipped.x0;
  window.y0 = clipped.y0;
  window.planes = Image(clipped.width(), clipped.height(), 4);
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

void add_reflections(const ImagePlanes& scene, const BackdropWindow& backdrop, const std::vector<float>& ground_depth,
                     std::uint32_t seed, StepProgress* progress) {
  check_inputs(scene, backdrop, ground_depth);
  const std::vector<char> reflective = reflective_rows(scene);
  const ReflectionSchedule schedule =
      schedule_reflections(reflective, ground_depth, scene.width, scene.height, row_grain(scene.width),
                           8 * thread_count());
  if (schedule.rows.empty()) return;
  if (progress) progress->set_total(schedule.rows.size());
  for (int y = schedule.rows.begin; y < schedule.rows.end; ++y)
    if (reflective[std::size_t(y)] && !holds_ground(ground_depth[std::size_t(y)]))
      throw std::invalid_argument("the ground depth table has no depth for a reflective row");

  std::vector<int> kept_rows;
  for (int y = schedule.rows.begin; y < schedule.rows.end; ++y)
    if (schedule.kept[std::size_t(y)]) kept_rows.push_back(y);
  const Image kept = copy_rows(scene, kept_rows);
  const RowsBefore before = rows_before(scene, kept, kept_rows, backdrop);
  const NoiseRows noise(scene.width, scene.height, seed, 1.0f);

  for (const std::vector<Span>* bands : {&schedule.bottom, &schedule.top}) {
    parallel_for(int(bands->size()), [&](int begin, int end) {
      std::vector<float> noise_row(std::size_t(scene.width));
      for (int b = begin; b < end; ++b) {
        const Span band = (*bands)[std::size_t(b)];
        for (int y = band.begin; y < band.end; ++y)
          if (reflective[std::size_t(y)])
            reflect_row(scene, before, noise, ground_depth[std::size_t(y)], y, noise_row.data());
        advance(progress, band.end - band.begin);
      }
    });
  }
}

}  // namespace neonvale
