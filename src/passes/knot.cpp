#include "passes/knot.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/parallel.hpp"
#include "maths/batch_math.hpp"
#include "passes/channels.hpp"
#include "passes/knot_reference.hpp"

namespace neonvale {

namespace {

// The bounding box of a bead's disk, clipped to the buffer and to the rows
// [row_begin, row_end).
Rect bead_box(const KnotBead& bead, float r, int width, int height, int row_begin, int row_end) {
  const int left = int(std::floor(bead.x - r));
  const int right = int(std::ceil(bead.x + r)) + 1;
  const int top = int(std::floor(bead.y - r));
  const int bottom = int(std::ceil(bead.y + r)) + 1;
  return {std::max(left, 0), std::max({top, 0, row_begin}), std::min(right, width),
          std::min({bottom, height, row_end})};
}

// Where a pixel lies on a bead's disk: 0 at the centre, 1 on the rim.
float disk_distance(float dx, float dy, float rr) { return (dx * dx + dy * dy) / rr; }

// Paints the rows [row_begin, row_end) of one bead.
void paint_bead_rows(const ImagePlanes& planes, const SceneDepth& depths, const KnotBead& bead, float r,
                     int row_begin, int row_end) {
  const int width = planes.width;
  const int height = planes.height;
  const float cx = bead.x;
  const float cy = bead.y;
  const Rect box = bead_box(bead, r, width, height, row_begin, row_end);
  if (box.empty()) return;

  // The hue is the same for the whole bead.
  const float k = std::sin(bead.t * 3.0f + 0.5f) * 0.5f + 0.5f;
  const float base_r = (2.2f - 2.0f * k) * 0.5f;
  const float base_g = (0.95f * k + 0.07f) * 0.5f;
  const float base_b = 1.0f;
  const float rr = r * r;

  // A row's pixels a run at a time: those in front found first, their powers
  // taken together, then written. No pixel of the row reads another's write.
  constexpr int kRun = 256;
  int column[kRun];
  float height_above[kRun], depth[kRun], h7[kRun], h4[kRun];
  for (int py = box.y0; py < box.y1; ++py) {
    const float dy = float(py) - cy;
    const std::size_t row = std::size_t(py) * std::size_t(width);
    for (int run = box.x0; run < box.x1; run += kRun) {
      int count = 0;
      for (int px = run; px < std::min(box.x1, run + kRun); ++px) {
        const float dx = float(px) - cx;
        const float d = disk_distance(dx, dy, rr);
        if (d >= 1.0f) continue;
        const float h = std::sqrt(1.0f - d);
        const float z = (bead.z + 14.0f) - h;
        if (!(z < depths.at(px, py))) continue;
        column[count] = px;
        height_above[count] = h;
        depth[count] = z;
        ++count;
      }
      powers(height_above, h7, std::size_t(count), 7.0f);
      powers(height_above, h4, std::size_t(count), 4.0f);
      for (int j = 0; j < count; ++j) {
        const std::size_t i = row + std::size_t(column[j]);
        const float q = h7[j] * 1.4f + 0.05f;
        planes[kRed][i] = base_r * q;
        planes[kGreen][i] = base_g * q;
        planes[kBlue][i] = base_b * q;
        depths.plane[i] = depth[j];
        planes[kEmission][i] = h4[j] + 0.3f;
        // A zero left as it is keeps pages nobody else writes untouched.
        if (planes[kReflectivity][i] != 0.0f) planes[kReflectivity][i] = 0.0f;
      }
    }
  }
}

// The pixels of row py inside the bead's box that the painter's disk test
// lets through: one run, since the distance only grows with
// |float(px) - cx| and rounding keeps that order. Found by bisection on each
// side of the column nearest the centre.
Span bead_run(const KnotBead& bead, float rr, const Rect& box, int py) {
  const float dy = float(py) - bead.y;
  auto inside = [&](int px) { return disk_distance(float(px) - bead.x, dy, rr) < 1.0f; };
  int mid = std::min(std::max(int(std::floor(bead.x)), box.x0), box.x1 - 1);
  if (!inside(mid) && mid + 1 < box.x1 && inside(mid + 1)) ++mid;
  if (!inside(mid)) return {};
  int lo = box.x0, hi = mid;  // first inside column in [lo, hi]
  while (lo < hi) {
    const int m = lo + (hi - lo) / 2;
    if (inside(m)) hi = m; else lo = m + 1;
  }
  const int begin = lo;
  lo = mid + 1, hi = box.x1;  // first outside column in [lo, hi]
  while (lo < hi) {
    const int m = lo + (hi - lo) / 2;
    if (inside(m)) lo = m + 1; else hi = m;
  }
  return {begin, lo};
}

}  // namespace

float knot_radius(int height) {
  const float r = 0.013f * float(height);
  return r > 2.0f ? r : 2.0f;
}

std::vector<KnotBead> knot_beads(int count, int scene_width, int scene_height) {
  std::vector<KnotBead> beads;
  if (count <= 0) return beads;
  beads.reserve(std::size_t(count));
  // The tilt about the horizontal axis, then the roll in the picture plane.
  const float ca = std::cos(0.72f);
  const float sa = std::sin(0.72f);
  const float sb = std::sin(-0.28f);
  const float cb = std::cos(-0.28f);
  const float w_px = float(scene_width);
  const float h_px = float(scene_height);
  for (int i = 0; i < count; ++i) {
    const float t = (float(i) * 6.2831855f) / float(count);
    const float ring = std::cos(3.0f * t) * 0.65f + 2.0f;
    const float x = std::cos(2.0f * t) * ring;
    const float y = std::sin(2.0f * t) * ring;
    const float z = std::sin(3.0f * t) * 0.9f;
    const float y1 = y * ca - z * sa;
    const float z1 = z * ca + y * sa;
    const float x2 = x * cb - y1 * sb;
    const float y2 = x * sb + y1 * cb;
    // A camera 8 knot units in front of the knot's centre.
    const float s = ((h_px * 0.09f) * 8.0f) / (z1 + 8.0f);
    beads.push_back({x2 * s + w_px * 0.79f, y2 * s + h_px * 0.26f, z1, t});
  }
  return beads;
}

namespace reference {

void paint_bead(Image& scene, const KnotBead& bead, float r) {
  paint_bead_rows(planes_of(scene), whole_depth(scene), bead, r, 0, scene.height);
}

void paint_knot(Image& scene, StepProgress* progress) {
  neonvale::paint_knot(planes_of(scene), whole_depth(scene), progress);
}

}  // namespace reference

void paint_knot(const ImagePlanes& scene, const SceneDepth& depth, StepProgress* progress) {
  if (progress) progress->set_total(scene.height);
  const float r = knot_radius(scene.height);
  const std::vector<KnotBead> beads = knot_beads(2400, scene.width, scene.height);
  // Each band of rows sees every bead in chain order, so every pixel meets
  // the same sequence of depth tests as in one serial sweep.
  parallel_rows(scene.height, scene.width, [&](int begin, int end) {
    for (const KnotBead& bead : beads) paint_bead_rows(scene, depth, bead, r, begin, end);
    advance(progress, end - begin);
  });
}

RowRuns knot_cover(int width, int height, int rows) {
  rows = std::max(0, std::min(rows, height));
  const float r = knot_radius(height);
  const float rr = r * r;
  const std::vector<KnotBead> beads = knot_beads(2400, width, height);
  std::vector<Rect> boxes;
  boxes.reserve(beads.size());
  for (const KnotBead& bead : beads) boxes.push_back(bead_box(bead, r, width, height, 0, rows));
  RowRuns cover(static_cast<std::size_t>(rows));
  parallel_rows(rows, width, [&](int begin, int end) {
    std::vector<Span> runs;
    for (int py = begin; py < end; ++py) {
      runs.clear();
      for (std::size_t i = 0; i < beads.size(); ++i) {
        const Rect& box = boxes[i];
        if (box.empty() || py < box.y0 || py >= box.y1) continue;
        const Span run = bead_run(beads[i], rr, box, py);
        if (run.begin < run.end) runs.push_back(run);
      }
      std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
      std::vector<Span>& merged = cover[std::size_t(py)];
      for (const Span& run : runs) {
        if (!merged.empty() && run.begin <= merged.back().end)
          merged.back().end = std::max(merged.back().end, run.end);
        else
          merged.push_back(run);
      }
    }
  });
  return cover;
}

}  // namespace neonvale
