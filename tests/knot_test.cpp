#include "passes/knot.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "passes/channels.hpp"
#include "passes/knot_reference.hpp"

namespace neonvale {
namespace {

// A scene buffer holding only the sky's depth, with marker values in the
// channels the knot must leave alone.
Image sky_scene(int w, int h) {
  Image scene(w, h, kSceneChannels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      scene.at(kDepth, x, y) = kSkyDepth;
      scene.at(kRobot, x, y) = 0.25f;
      scene.at(kReflectivity, x, y) = 0.5f;
      scene.at(kOffsetX, x, y) = 3.0f;
    }
  return scene;
}

bool written(const Image& scene, int x, int y) { return scene.at(kDepth, x, y) != kSkyDepth; }

TEST(KnotRadius, ScalesWithHeightAboveTwoPixels) {
  EXPECT_NEAR(knot_radius(4320), 56.16f, 1e-4f);
  EXPECT_EQ(knot_radius(153), 2.0f);
  EXPECT_EQ(knot_radius(64), 2.0f);
  EXPECT_EQ(knot_radius(154), 0.013f * 154.0f);
  EXPECT_GT(knot_radius(154), 2.0f);
}

TEST(KnotBeads, PositionsOnFullSizeBuffer) {
  const Image scene(7680, 4320, 1);  // only the size is read
  const std::vector<KnotBead> beads = knot_beads(2400, scene.width, scene.height);
  ASSERT_EQ(beads.size(), 2400u);
  EXPECT_NEAR(beads[0].x, 7057.4f, 0.1f);
  EXPECT_NEAR(beads[0].y, 838.5f, 0.1f);
  EXPECT_EQ(beads[0].z, 0.0f);
  EXPECT_EQ(beads[0].t, 0.0f);
  EXPECT_NEAR(beads[1200].x, 6571.6f, 0.1f);
  EXPECT_NEAR(beads[1200].y, 978.1f, 0.1f);
  EXPECT_NEAR(beads[1200].z, 0.0f, 1e-5f);
  EXPECT_NEAR(beads[1200].t, 3.14159265f, 1e-6f);
  EXPECT_NEAR(beads[600].x, 5320.5f, 0.1f);
  EXPECT_NEAR(beads[600].y, 1600.2f, 0.1f);
  EXPECT_NEAR(beads[600].z, -0.677f, 1e-3f);
  for (const KnotBead& b : beads) {
    EXPECT_GE(b.t, 0.0f);
    EXPECT_LT(b.t, 6.2831855f);
    EXPECT_LT(std::fabs(b.z), 1.83f);
  }
  EXPECT_TRUE(knot_beads(0, scene.width, scene.height).empty());
}


TEST(PaintBead, CentrePixelOfFlatBead) {
  Image scene = sky_scene(21, 21);
  reference::paint_bead(scene, {10.0f, 10.0f, 0.0f, 0.0f}, 5.0f);
  // t = 0: k = sin(0.5) / 2 + 1/2, base colour about (0.360, 0.386, 1.0).
  const float k = std::sin(0.5f) * 0.5f + 0.5f;
  EXPECT_NEAR(k, 0.7397f, 1e-4f);
  EXPECT_FLOAT_EQ(scene.at(kDepth, 10, 10), 13.0f);
  EXPECT_FLOAT_EQ(scene.at(kEmission, 10, 10), 1.3f);
  EXPECT_NEAR(scene.at(kRed, 10, 10), 1.45f * 0.3603f, 2e-4f);
  EXPECT_NEAR(scene.at(kGreen, 10, 10), 1.45f * 0.3864f, 2e-4f);
  EXPECT_FLOAT_EQ(scene.at(kBlue, 10, 10), 1.45f);
  EXPECT_EQ(scene.at(kReflectivity, 10, 10), 0.0f);
  // Channels the knot does not own keep their values.
  EXPECT_EQ(scene.at(kRobot, 10, 10), 0.25f);
  EXPECT_EQ(scene.at(kOffsetX, 10, 10), 3.0f);
  EXPECT_EQ(scene.at(kUnused, 10, 10), 0.0f);
}

TEST(PaintBead, RimIsDimAndFarther) {
  Image scene = sky_scene(21, 21);
  reference::paint_bead(scene, {10.0f, 10.0f, 0.0f, 0.0f}, 5.0f);
  // d = 16/25 at (14, 10): h = 0.6.
  const float h = std::sqrt(1.0f - 16.0f / 25.0f);
  EXPECT_FLOAT_EQ(scene.at(kDepth, 14, 10), 14.0f - h);
  EXPECT_FLOAT_EQ(scene.at(kEmission, 14, 10), std::pow(h, 4.0f) + 0.3f);
  EXPECT_FALSE(written(scene, 15, 10));  // d = 1 is outside
  EXPECT_FALSE(written(scene, 14, 14));
}

TEST(PaintBead, EqualOrNearerDepthIsKept) {
  Image scene = sky_scene(21, 21);
  scene.at(kDepth, 10, 10) = 13.0f;  // a tie with the bead's centre
  scene.at(kRed, 10, 10) = 0.125f;
  scene.at(kDepth, 11, 10) = 5.0f;   // something nearer
  scene.at(kDepth, 9, 10) = 13.5f;   // something farther
  reference::paint_bead(scene, {10.0f, 10.0f, 0.0f, 0.0f}, 5.0f);
  EXPECT_EQ(scene.at(kDepth, 10, 10), 13.0f);
  EXPECT_EQ(scene.at(kRed, 10, 10), 0.125f);
  EXPECT_EQ(scene.at(kEmission, 10, 10), 0.0f);
  EXPECT_EQ(scene.at(kReflectivity, 10, 10), 0.5f);
  EXPECT_EQ(scene.at(kDepth, 11, 10), 5.0f);
  EXPECT_LT(scene.at(kDepth, 9, 10), 13.5f);
}

TEST(PaintBead, ClippedToBuffer) {
  // Beads over every edge and corner of a small buffer, and one far outside.
  Image scene = sky_scene(9, 7);
  const KnotBead beads[] = {{-1.5f, 3.0f, 0.0f, 1.0f}, {8.6f, -0.4f, 0.0f, 2.0f}, {4.0f, 8.0f, 0.0f, 3.0f},
                            {9.5f, 7.5f, 0.0f, 4.0f}, {-40.0f, -40.0f, 0.0f, 5.0f}, {60.0f, 3.0f, 0.0f, 0.5f}};
  const float r = 3.0f;
  for (const KnotBead& b : beads) reference::paint_bead(scene, b, r);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      bool inside = false;
      for (const KnotBead& b : beads) {
        const float dx = float(x) - b.x, dy = float(y) - b.y;
        inside = inside || (dx * dx + dy * dy) / (r * r) < 1.0f;
      }
      EXPECT_EQ(written(scene, x, y), inside) << x << "," << y;
    }
}

TEST(PaintKnot, SmallBufferStaysInItsDepthRange) {
  Image scene = sky_scene(160, 90);
  reference::paint_knot(scene);
  int covered = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 160; ++x) {
      if (!written(scene, x, y)) continue;
      ++covered;
      const float d = scene.at(kDepth, x, y);
      EXPECT_GT(d, 11.17f);
      EXPECT_LT(d, 15.84f);
      EXPECT_GE(scene.at(kEmission, x, y), 0.3f);
      EXPECT_LE(scene.at(kEmission, x, y), 1.3f);
      EXPECT_EQ(scene.at(kReflectivity, x, y), 0.0f);
    }
  EXPECT_GT(covered, 100);
  // The knot sits in the upper right: nothing in the left half or the bottom.
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 80; ++x) EXPECT_FALSE(written(scene, x, y));
  for (int x = 0; x < 160; ++x) EXPECT_FALSE(written(scene, x, 60));
}

TEST(KnotCover, RunsHoldExactlyThePixelsTheKnotPaintsOverTheSky) {
  // Beads clipped at the buffer's edges at the smallest sizes; the cover
  // asked for the upper rows only, as the renderer does.
  for (auto [w, h] : {std::pair{160, 90}, std::pair{203, 97}, std::pair{64, 180}, std::pair{40, 12}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Image scene = sky_scene(w, h);
    reference::paint_knot(scene);
    const int rows = h * 2 / 3;
    const RowRuns cover = knot_cover(w, h, rows);
    ASSERT_EQ(cover.size(), std::size_t(rows));
    for (int y = 0; y < rows; ++y) {
      const std::vector<Span>& runs = cover[std::size_t(y)];
      for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_LT(runs[i].begin, runs[i].end);
        if (i > 0) {
          EXPECT_GT(runs[i].begin, runs[i - 1].end);  // apart, not touching
        }
      }
      std::size_t next = 0;
      for (int x = 0; x < w; ++x) {
        while (next < runs.size() && runs[next].end <= x) ++next;
        const bool in_run = next < runs.size() && runs[next].begin <= x;
        ASSERT_EQ(in_run, written(scene, x, y)) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace neonvale
