#include "scene/scene.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "passes/channels.hpp"
#include "passes/robot.hpp"
#include "scene/stages.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

RenderSettings small(int width, int height) {
  RenderSettings s;
  s.width = width;
  s.height = height;
  s.aa_scale = 1;
  return s;
}

TEST(Scene, RunsTheStageTableAndReturnsThePictureAtTheRequestedSize) {
  const SceneAssets& assets = test::shipped_assets();
  std::string stages;
  bool unused_plane_absent = false;
  bool coverage_only_on_figure = false;
  RenderObserver observer;
  observer.stage_end = [&](const char* stage, const ImagePlanes& planes) {
    stages += std::string(stage) + " ";
    if (std::string(stage) == "robot") {
      ASSERT_EQ(planes.channels, kSceneChannels);
      unused_plane_absent = planes[kUnused] == nullptr;
      // Robot coverage is written by the figure alone, inside its rectangle.
      ASSERT_NE(planes[kRobot], nullptr);
      const FigureRect rect = figure_rect(planes.width, planes.height, assets.robo.width, assets.robo.height);
      coverage_only_on_figure = true;
      for (int y = 0; y < planes.height; ++y)
        for (int x = 0; x < planes.width; ++x) {
          const bool inside = x >= rect.x0 && x < rect.x0 + rect.width && y >= rect.y0 && y < rect.y0 + rect.height;
          if (!inside) coverage_only_on_figure &= planes.row(kRobot, y)[x] == 0.0f;
        }
    }
  };
  const Image picture = render_scene(small(64, 80), assets, &observer);
  EXPECT_EQ(picture.width, 64);
  EXPECT_EQ(picture.height, 80);
  EXPECT_EQ(picture.channels, 3);
  EXPECT_TRUE(unused_plane_absent);
  EXPECT_TRUE(coverage_only_on_figure);
  std::string table;
  for (const Stage& stage : render_stages()) table += std::string(stage.name) + " ";
  EXPECT_EQ(stages, table);
  EXPECT_EQ(stages, "sky ground knot snapshot robot reflections rain glow tone_map grade ");
}

TEST(Scene, AssetsLoadInOrderAndTheFirstFailureNamesItsFile) {
  test::TempDir dir;
  dir.install_assets();
  const auto folder = dir.path() / "assets" / "01_neonvale";
  StepProgress progress;
  const SceneAssets assets = load_scene_assets(folder, &progress);
  EXPECT_EQ(progress.done(), 4);
  EXPECT_EQ(progress.fraction(), 1.0);
  EXPECT_EQ(assets.robo.channels, 4);
  EXPECT_EQ(assets.robo_emissive.channels, 3);
  EXPECT_EQ(assets.color_grader.height, assets.color_grader.width * assets.color_grader.width);

  std::filesystem::remove(folder / "color_grader.png");
  std::filesystem::remove(folder / "robo_emissive.png");
  try {
    load_scene_assets(folder);
    ADD_FAILURE() << "loaded without the emissive image";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open PNG: " + (folder / "robo_emissive.png").string());
  }
}

TEST(Scene, OversizedRenderIsRefusedBeforeAnyStep) {
  // Sides that fit an int until the AA scale doubles them.
  RenderSettings s = small(1 << 30, 1 << 30);
  s.aa_scale = 2;
  bool any_stage = false;
  RenderObserver observer;
  observer.stage_begin = [&](const char*, const StepProgress&) { any_stage = true; };
  EXPECT_THROW(render_scene(s, test::shipped_assets(), &observer), std::length_error);
  EXPECT_FALSE(any_stage);
}

}  // namespace
}  // namespace neonvale
