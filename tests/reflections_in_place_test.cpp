// The in-place reflections against the plain pass: same bits on planes 0, 1,
// 2 and emission, with the depth plane absent, the backdrop reduced to a
// window, and any number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <cstring>
#include <vector>

#include "core/image_planes.hpp"
#include "core/image_reference.hpp"
#include "core/parallel.hpp"
#include "core/random.hpp"
#include "core/step_progress.hpp"
#include "filters/value_noise.hpp"
#include "filters/value_noise_reference.hpp"
#include "passes/channels.hpp"
#include "passes/ground.hpp"
#include "passes/ground_reference.hpp"
#include "passes/knot.hpp"
#include "passes/knot_reference.hpp"
#include "passes/reflection_kernel.hpp"
#include "passes/reflections.hpp"
#include "passes/reflections_reference.hpp"
#include "passes/robot.hpp"
#include "passes/robot_reference.hpp"
#include "passes/sky.hpp"
#include "passes/sky_reference.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

using test::Threads;

bool same_plane(const Image& a, const Image& b, int c) {
  return std::memcmp(a.plane(c), b.plane(c), a.plane_size() * sizeof(float)) == 0;
}

// The first pixel of plane c where the two differ, for the failure message.
std::string first_difference(const Image& a, const Image& b, int c) {
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (std::memcmp(&a.plane(c)[std::size_t(y) * std::size_t(a.width) + std::size_t(x)],
                      &b.plane(c)[std::size_t(y) * std::size_t(b.width) + std::size_t(x)], sizeof(float)) != 0)
        return "plane " + std::to_string(c) + " at (" + std::to_string(x) + ", " + std::to_string(y) +
               "): " + std::to_string(a.at(c, x, y)) + " vs " + std::to_string(b.at(c, x, y));
  return "none";
}

// The lean view the renderer hands the pass: no depth plane.
ImagePlanes without_depth(Image& scene) {
  ImagePlanes view = planes_of(scene);
  view.planes[kDepth] = nullptr;
  return view;
}

// The window as the renderer sizes it: the rectangle's rows within the rows
// the reflections can read.
BackdropWindow window_over(Image& scene, const Rect& figure) {
  const Span rows = backdrop_rows(scene.width, scene.height, ground_row_depths(scene.height));
  return capture_backdrop(planes_of(scene),
                          Rect{figure.x0, std::max(figure.y0, rows.begin), figure.x1, std::min(figure.y1, rows.end)});
}

// A scene as the render has it before the reflections, with the snapshot and
// the window taken before the robot.
struct Prepared {
  Image scene;     // after the robot
  Image snapshot;  // planes 0 to 4 before the robot
  BackdropWindow window;
};

Prepared render_until_reflections(int width, int height, int aa, std::uint32_t seed) {
  const SceneAssets& assets = test::shipped_assets();
  Prepared p;
  p.scene = Image(width * aa, height * aa, kSceneChannels);
  Random rng(seed);
  reference::paint_sky(p.scene, aa, rng.draw_seed());
  reference::paint_ground(p.scene, aa, rng.draw_seed());
  reference::paint_knot(p.scene);
  p.snapshot = Image(p.scene.width, p.scene.height, 5);
  reference::copy_channels(p.snapshot, p.scene);
  const FigureRect fig = figure_rect(p.scene.width, p.scene.height, assets.robo.width, assets.robo.height);
  p.window = window_over(p.scene, fig.within(p.scene.width, p.scene.height));
  reference::composite_robot(p.scene, assets.robo, assets.robo_material, assets.robo_emissive, aa);
  return p;
}

// Runs both passes on copies of `before` and checks the lean one against the
// plain one at each thread count: colour and emission bit for bit, every
// other plane untouched.
void expect_same_as_plain(const Image& before, const Image& snapshot, const BackdropWindow& window,
                          std::uint32_t seed) {
  Image plain(before);
  reference::add_reflections(plain, snapshot, seed);
  for (int threads : {1, 2, 3, 7}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const Threads use(threads);
    Image lean(before);
    StepProgress progress;
    add_reflections(without_depth(lean), window, ground_row_depths(lean.height), seed, &progress);
    for (int c : {kRed, kGreen, kBlue, kEmission})
      EXPECT_TRUE(same_plane(lean, plain, c)) << first_difference(lean, plain, c);
    for (int c = 0; c < kSceneChannels; ++c) {
      if (c != kRed && c != kGreen && c != kBlue && c != kEmission) {
        EXPECT_TRUE(same_plane(lean, before, c)) << "plane " << c << " changed";
      }
    }
    EXPECT_GT(progress.total(), 0);
    EXPECT_EQ(progress.done(), progress.total());
  }
}

struct Case {
  int width, height, aa;
  std::uint32_t seed;
};

TEST(ReflectionsInPlace, MatchesPlainPassOnRenderedScenes) {
  // Odd shapes move the figure, the horizon and the mirror line against the
  // rows; the wide one has ripples of several rows on a short buffer.
  const Case cases[] = {{160, 90, 2, 7u}, {203, 97, 1, 2024u}, {64, 180, 2, 99u}, {400, 64, 1, 31337u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " AA " + std::to_string(c.aa));
    const Prepared p = render_until_reflections(c.width, c.height, c.aa, c.seed);
    ASSERT_GT(p.window.planes.width, 0);
    // The robot must have changed what the window covers, or the case would
    // not tell a window from none.
    bool robot_in_window = false;
    for (int j = 0; j < p.window.planes.height && !robot_in_window; ++j)
      for (int i = 0; i < p.window.planes.width; ++i)
        if (p.scene.at(kRed, p.window.x0 + i, p.window.y0 + j) != p.window.planes.at(0, i, j)) {
          robot_in_window = true;
          break;
        }
    EXPECT_TRUE(robot_in_window);
    for (std::uint32_t seed : {c.seed, c.seed * 2654435761u + 1u})
      expect_same_as_plain(p.scene, p.snapshot, p.window, seed);
  }
}

// A scene whose every colour, coverage and reflectivity is random, so that
// any read of a wrong value shows: every ground row is reflective, the live
// mirror sees the robot everywhere in part, and the backdrop differs from
// the scene in the whole of a rectangle, rows the window leaves out included.
struct RandomScene {
  Image scene;
  Image snapshot;
  BackdropWindow window;
};

// With `bottom_only`, only rows below the live mirror line are reflective, so
// that the bottom block's own reads are not covered by the top block's.
RandomScene random_scene(int width, int height, std::uint32_t seed, bool bottom_only = false) {
  RandomScene s;
  s.scene = Image(width, height, kSceneChannels);
  Random rng(seed);
  const std::vector<float> depth = ground_row_depths(height);
  for (int y = 0; y < height; ++y) {
    const bool ground = depth[std::size_t(y)] < kSkyDepth;  // the rows the ground covers
    const bool wet_row = ground && (!bottom_only || float(y) > 0.825f * float(height));
    for (int x = 0; x < width; ++x) {
      for (int c : {kRed, kGreen, kBlue, kEmission}) s.scene.at(c, x, y) = 4.0f * rng.next_float();
      s.scene.at(kRobot, x, y) = rng.next_float();
      s.scene.at(kDepth, x, y) = ground ? depth[std::size_t(y)] : kSkyDepth;
      // Some ground pixels are not reflective, as where the knot stands.
      const float wet = rng.next_float();
      s.scene.at(kReflectivity, x, y) = wet_row && wet > 0.1f ? 0.1f + wet : 0.0f;
    }
  }
  s.snapshot = Image(width, height, 5);
  reference::copy_channels(s.snapshot, s.scene);
  const int x0 = width / 8, y0 = height / 10, w = width / 2, h = height * 4 / 5;
  for (int c : {kRed, kGreen, kBlue, kEmission})
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) s.snapshot.at(c, x, y) = 100.0f + s.scene.at(c, x, y);
  // The window holds the snapshot's values of the rectangle's readable rows.
  const Span rows = backdrop_rows(width, height, depth);
  s.window =
      capture_backdrop(planes_of(s.snapshot), Rect{x0, std::max(y0, rows.begin), x0 + w, std::min(y0 + h, rows.end)});
  return s;
}

TEST(ReflectionsInPlace, MatchesPlainPassWhereEveryValueCounts) {
  // Tall, square, wide and very wide: ripples of many rows on a short buffer
  // let the bottom rows mirror each other through the backdrop too.
  const int sizes[][2] = {{48, 160}, {97, 89}, {256, 60}, {640, 24}, {1000, 17}, {2400, 14}, {3000, 12}, {12000, 40}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
    for (bool bottom_only : {false, true}) {
      SCOPED_TRACE(bottom_only ? "bottom rows wet" : "all ground wet");
      const RandomScene s = random_scene(size[0], size[1], 17u + std::uint32_t(size[0]), bottom_only);
      expect_same_as_plain(s.scene, s.snapshot, s.window, 5u + std::uint32_t(size[1]));
    }
  }
}

// The reads of the kernel as the in-place driver makes them: the scene's own
// rows (colour and emission, as the window leaves them to the scene), with
// the columns read. Robot coverage is never written, so its reads are left out.
struct RecordingSampler {
  const Image* image;
  const BackdropWindow* window;
  int width, height;
  struct Read {
    int row, column;
  };
  mutable std::vector<Read> reads;

  void note(int x, int y) const { reads.push_back({y, x}); }
  float scene(int p, const PixelTaps& t) const {
    for (int y : {t.y.i0, t.y.i1})
      for (int x : {t.x.i0, t.x.i1}) note(x, y);
    return image->sample(kMirrored[p], t);
  }
  float backdrop(int p, const PixelTaps& t) const {
    const Image& w = window->planes;
    for (int y : {t.y.i0, t.y.i1})
      for (int x : {t.x.i0, t.x.i1}) {
        const int i = x - window->x0, j = y - window->y0;
        if (!(i >= 0 && i < w.width && j >= 0 && j < w.height)) note(x, y);
      }
    return image->sample(kMirrored[p], t);
  }
  float robot(const PixelTaps& t) const { return image->sample(kRobot, t); }
};

// Which block and band of the schedule writes row y; the bottom block is 0.
struct Place {
  int block = -1, band = -1;
};
Place place_of(const ReflectionSchedule& s, int y) {
  const std::vector<Span>* blocks[2] = {&s.bottom, &s.top};
  for (int b = 0; b < 2; ++b)
    for (std::size_t i = 0; i < blocks[b]->size(); ++i)
      if (y >= (*blocks[b])[i].begin && y < (*blocks[b])[i].end) return {b, int(i)};
  return {};
}

// The kept-row rule, checked against what the kernel really reads: every read
// of a row the pass writes goes to a kept copy, or is made before the row's
// writer reaches the pixels read: the row's block runs later, or the reader
// is in the row's own band, above it, or on it left of every column it reads.
void expect_reads_before_writes(const Image& scene, const BackdropWindow& window, std::uint32_t seed, int grain,
                                int most) {
  const int w = scene.width, h = scene.height;
  const std::vector<float> depth = ground_row_depths(h);
  std::vector<char> reflective(std::size_t(h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (scene.at(kReflectivity, x, y) > 0.0f) reflective[std::size_t(y)] = 1;
  const ReflectionSchedule s = schedule_reflections(reflective, depth, w, h, grain, most);
  const Image noise = reference::value_noise(w, h, seed, 1.0f);
  RecordingSampler sampler{&scene, &window, w, h, {}};
  int checked = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float rho = scene.at(kReflectivity, x, y);
      if (!(rho > 0.0f)) continue;
      float sine[4];
      ripple_phases(float(x), float(y), float(w), sine);
      for (float& v : sine) v = std::sin(v);
      sampler.reads.clear();
      reflect(sampler, ReflectInputs{float(x), float(y), rho, noise.at(0, x, y), depth[std::size_t(y)], sine});
      const Place reader = place_of(s, y);
      ASSERT_GE(reader.block, 0) << "row " << y << " is in no band";
      for (const RecordingSampler::Read& read : sampler.reads) {
        if (!reflective[std::size_t(read.row)]) continue;
        ++checked;
        if (s.kept[std::size_t(read.row)]) continue;
        const Place writer = place_of(s, read.row);
        const bool later_block = writer.block > reader.block;
        const bool ahead_in_band = writer.block == reader.block && writer.band == reader.band &&
                                   (read.row > y || (read.row == y && read.column >= x));
        ASSERT_TRUE(later_block || ahead_in_band)
            << "pixel (" << x << ", " << y << ") reads row " << read.row << " at column " << read.column
            << " after or while it is written, and the row is not kept";
      }
    }
  EXPECT_GT(checked, 0);
}

TEST(ReflectionsInPlace, EveryReadOfAWrittenRowComesBeforeTheWriteOrGoesToAKeptRow) {
  // Bands of a row or more, from one band per block to many, on rendered
  // scenes and on scenes where every ground row, or every row below the live
  // mirror line, is reflective.
  for (const Case& c : {Case{160, 90, 2, 7u}, Case{400, 64, 1, 31337u}}) {
    const Prepared p = render_until_reflections(c.width, c.height, c.aa, c.seed);
    for (int most : {1, 3, 16, 1000}) expect_reads_before_writes(p.scene, p.window, c.seed, 1, most);
  }
  for (const auto& size : {std::pair<int, int>{97, 89}, {256, 60}, {2400, 14}})
    for (bool bottom_only : {false, true}) {
      const RandomScene r = random_scene(size.first, size.second, 23u, bottom_only);
      for (int most : {1, 2, 5, 1000}) expect_reads_before_writes(r.scene, r.window, 77u, 1, most);
    }
}

TEST(ReflectionsInPlace, BackdropRowsLieAboutTheHorizonMirror) {
  const std::vector<float> depth = ground_row_depths(4320);
  const Span rows = backdrop_rows(7680, 4320, depth);
  // The bottom row mirrors to about 0.19 h and the first row the ground
  // covers (2578, just below the horizon at 0.595 h) to 1.19 h - 2578;
  // full ripples reach at most 9 k = 54 rows beyond.
  EXPECT_GE(rows.begin, int(0.19f * 4320.0f) - 60);
  EXPECT_LT(rows.begin, int(0.19f * 4320.0f));
  EXPECT_GE(rows.end - 1, int(1.19f * 4320.0f) - 2578);
  EXPECT_LE(rows.end - 1, int(0.595f * 4320.0f) + 8);
  // No ground, nothing to read.
  EXPECT_TRUE(backdrop_rows(64, 3, {-1.0f, -2.0f, -3.0f}).empty());
  EXPECT_THROW(backdrop_rows(64, 3, depth), std::invalid_argument);
}

TEST(ReflectionsInPlace, CaptureClipsTheRectangleToTheScene) {
  Image scene(10, 8, kSceneChannels);
  for (int c = 0; c < kSceneChannels; ++c)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) scene.at(c, x, y) = float(100 * c + 10 * y + x);
  const BackdropWindow w = capture_backdrop(planes_of(scene), Rect{-2, 5, 998, 15});
  EXPECT_EQ(w.x0, 0);
  EXPECT_EQ(w.y0, 5);
  ASSERT_EQ(w.planes.width, 10);
  ASSERT_EQ(w.planes.height, 3);
  ASSERT_EQ(w.planes.channels, 4);
  EXPECT_EQ(w.planes.at(0, 3, 0), 53.0f);
  EXPECT_EQ(w.planes.at(2, 9, 2), 279.0f);
  EXPECT_EQ(w.planes.at(3, 0, 1), 460.0f);  // emission
  EXPECT_EQ(capture_backdrop(planes_of(scene), Rect{3, 9, 7, 13}).planes.width, 0);
  EXPECT_EQ(capture_backdrop(planes_of(scene), Rect{3, 2, 7, 2}).planes.width, 0);
}

TEST(ReflectionsInPlace, RefusesMissingInputs) {
  const RandomScene s = random_scene(40, 30, 1u);
  Image scene(s.scene);
  const std::vector<float> depth = ground_row_depths(30);
  ImagePlanes no_robot = without_depth(scene);
  no_robot.planes[kRobot] = nullptr;
  EXPECT_THROW(add_reflections(no_robot, s.window, depth, 1u), std::invalid_argument);
  EXPECT_THROW(add_reflections(without_depth(scene), s.window, ground_row_depths(29), 1u),
               std::invalid_argument);
  std::vector<float> sky_depth(30, -1.0f);
  EXPECT_THROW(add_reflections(without_depth(scene), s.window, sky_depth, 1u), std::invalid_argument);
  BackdropWindow outside;
  outside.x0 = 35;
  outside.planes = Image(10, 2, 4);
  EXPECT_THROW(add_reflections(without_depth(scene), outside, depth, 1u), std::invalid_argument);
  // Nothing was written before the refusals.
  for (int c = 0; c < kSceneChannels; ++c) EXPECT_TRUE(same_plane(scene, s.scene, c));
}

}  // namespace
}  // namespace neonvale
