#include "passes/rain.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "core/image.hpp"
#include "passes/channels.hpp"
#include "passes/droplets.hpp"
#include "passes/droplets_reference.hpp"
#include "passes/ground.hpp"
#include "passes/ground_reference.hpp"
#include "passes/knot.hpp"
#include "passes/knot_reference.hpp"
#include "passes/refraction.hpp"
#include "passes/refraction_reference.hpp"
#include "passes/sky.hpp"
#include "passes/sky_reference.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

bool same_plane(const Image& a, const Image& b, int c) {
  return std::memcmp(a.plane(c), b.plane(c), a.plane_size() * sizeof(float)) == 0;
}

// The scene as the rain finds it, with the sky, the ground and the knot, at
// the supersampled size of a width x height picture.
Image backdrop(int width, int height, int aa_scale) {
  Image scene(width * aa_scale, height * aa_scale, kSceneChannels);
  reference::paint_sky(scene, aa_scale, 2357136044u);
  reference::paint_ground(scene, aa_scale, 2546248239u);
  reference::paint_knot(scene);
  return scene;
}

// A view with only the planes the fused step may touch; any other access
// would go through a null pointer.
ImagePlanes colour_and_emission(Image& scene) {
  ImagePlanes view;
  view.width = scene.width;
  view.height = scene.height;
  view.channels = kSceneChannels;
  for (int c : {kRed, kGreen, kBlue, kEmission}) view.planes[std::size_t(c)] = scene.plane(c);
  return view;
}

struct Size {
  int width, height, aa_scale;
};
void PrintTo(const Size& s, std::ostream* os) { *os << s.width << " x " << s.height << ", AA " << s.aa_scale; }

class RainOnLens : public ::testing::TestWithParam<Size> {};

TEST_P(RainOnLens, LeavesWhatDropletsThenRefractionLeaveAtEveryThreadCount) {
  const Size size = GetParam();
  const Image start = backdrop(size.width, size.height, size.aa_scale);
  for (std::uint32_t seed : {1286516326u, 955601140u}) {
    Image expected(start);
    reference::paint_droplets(expected, size.aa_scale, seed);
    reference::refract(expected);
    for (int threads : {1, 2, 3, 7}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << threads << " threads");
      const test::Threads use(threads);
      Image fused(start);
      StepProgress progress;
      paint_droplets_and_refract(colour_and_emission(fused), seed, &progress);
      for (int c : {kRed, kGreen, kBlue, kEmission}) EXPECT_TRUE(same_plane(fused, expected, c)) << "plane " << c;
      // The rest of the scene is neither read nor written.
      for (int c : {kDepth, kUnused, kOffsetX, kOffsetY, kWater, kRobot, kReflectivity, kDrop})
        EXPECT_TRUE(same_plane(fused, start, c)) << "plane " << c;
      EXPECT_EQ(progress.total(), start.height);
      EXPECT_EQ(progress.done(), start.height);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RainOnLens,
                         // The last is many blocks of the sweep high, so reads
                         // reach the ring and the window of kept rows.
                         ::testing::Values(Size{160, 90, 2}, Size{203, 97, 1}, Size{64, 180, 2}, Size{400, 64, 1},
                                           Size{120, 360, 2}),
                         [](const testing::TestParamInfo<Size>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height) +
                                  "_aa" + std::to_string(info.param.aa_scale);
                         });

}  // namespace
}  // namespace neonvale
