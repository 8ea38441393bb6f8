#include "scene/scene.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "image/png_io.hpp"
#include "passes/robot.hpp"
#include "scene/channels.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

// Runs the test body inside a folder of its own, as the program runs in the
// user's working directory.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

Config small(int width, int height) {
  Config c;
  c.width = width;
  c.height = height;
  c.aa_scale = 1;
  return c;
}

TEST(Scene, AssetFolderIsFixed) {
  EXPECT_EQ((asset_folder() / "robo.png").string(), "./assets/01_neonvale/robo.png");
}

TEST(Scene, ReturnsThePictureAtTheRequestedSize) {
  test::TempDir dir;
  dir.install_assets();
  InFolder here(dir.path());
  std::string stages;
  bool unused_plane_zero = false;
  bool coverage_only_on_figure = false;
  const Image robo = load_png(dir.path() / "assets" / "01_neonvale" / "robo.png");
  RenderObserver observer;
  observer.stage_end = [&](const char* stage, const Image& image) {
    stages += std::string(stage) + " ";
    if (std::string(stage) == "refraction") {
      ASSERT_EQ(image.channels, kSceneChannels);
      unused_plane_zero = true;
      for (std::size_t i = 0; i < image.plane_size(); ++i) unused_plane_zero &= image.plane(kUnused)[i] == 0.0f;
      // Robot coverage is written by the figure alone, inside its rectangle.
      const FigureRect rect = figure_rect(image.width, image.height, robo.width, robo.height);
      coverage_only_on_figure = true;
      for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
          const bool inside = x >= rect.x0 && x < rect.x0 + rect.width && y >= rect.y0 && y < rect.y0 + rect.height;
          if (!inside) coverage_only_on_figure &= image.at(kRobot, x, y) == 0.0f;
        }
    }
  };
  const Image picture = render_scene(small(64, 80), &observer);
  EXPECT_EQ(picture.width, 64);
  EXPECT_EQ(picture.height, 80);
  EXPECT_EQ(picture.channels, 3);
  EXPECT_TRUE(unused_plane_zero);
  EXPECT_TRUE(coverage_only_on_figure);
  EXPECT_EQ(stages, "sky ground knot snapshot robot reflections droplets refraction colour glow tone_map downsample grade ");
}

TEST(Scene, MissingGraderStopsBeforeAnyPass) {
  test::TempDir dir;
  dir.install_assets();
  std::filesystem::remove(dir.path() / "assets" / "01_neonvale" / "color_grader.png");
  InFolder here(dir.path());
  bool any_stage = false;
  RenderObserver observer;
  observer.stage_begin = [&](const char*) { any_stage = true; };
  try {
    render_scene(small(64, 64), &observer);
    ADD_FAILURE() << "rendered without a grader";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open PNG: ./assets/01_neonvale/color_grader.png");
  }
  EXPECT_FALSE(any_stage);
}

TEST(Scene, OversizedRenderIsRefusedBeforeAllocating) {
  Config c = small(30000, 30000);
  c.aa_scale = 2;
  EXPECT_THROW(render_scene(c), std::length_error);
}

}  // namespace
}  // namespace neonvale
