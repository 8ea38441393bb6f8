// Google Benchmark cases for every pass at 1280 x 720 with AA 2 (a 2560 x 1440
// scene buffer). Each case starts from the scene as the passes before it left
// it, so it measures the pass on realistic content. Run from anywhere: the
// assets are read from the source tree.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>

#include "image/png_io.hpp"
#include "passes/box_blur.hpp"
#include "passes/droplets.hpp"
#include "passes/ground.hpp"
#include "passes/knot.hpp"
#include "passes/robot.hpp"
#include "passes/sky.hpp"
#include "passes/value_noise.hpp"
#include "post/color_grade.hpp"
#include "post/downsample.hpp"
#include "post/glow.hpp"
#include "post/reflections.hpp"
#include "post/refraction.hpp"
#include "post/tone_map.hpp"
#include "scene/channels.hpp"
#include "scene/scene.hpp"

namespace neonvale {
namespace {

constexpr int kAa = 2;
constexpr int kWidth = 1280 * kAa;
constexpr int kHeight = 720 * kAa;
constexpr std::uint32_t kSeed = 1383026975u;

struct Assets {
  Image robo, material, emissive, grader;
};

const Assets& assets() {
  static const Assets a = [] {
    const auto folder = std::filesystem::path(NEONVALE_SOURCE_DIR) / asset_folder();
    return Assets{load_png(folder / "robo.png"), load_png(folder / "robo_material.png"),
                  load_png(folder / "robo_emissive.png"), load_png(folder / "color_grader.png")};
  }();
  return a;
}

// The scene buffer as each pass finds it, computed once.
struct Stages {
  Image before_ground, before_knot, before_robot, snapshot, before_reflections, before_droplets,
      before_refraction, final_scene, colour, tone_mapped, downsampled;
};

const Stages& stages() {
  static const Stages s = [] {
    Stages st;
    Image scene(kWidth, kHeight, kSceneChannels);
    paint_sky(scene, kAa, kSeed);
    st.before_ground = Image(scene);
    paint_ground(scene, kAa, kSeed + 1);
    st.before_knot = Image(scene);
    paint_knot(scene);
    st.before_robot = Image(scene);
    st.snapshot = Image(kWidth, kHeight, 5);
    st.snapshot.copy_channels(scene);
    composite_robot(scene, assets().robo, assets().material, assets().emissive, kAa);
    st.before_reflections = Image(scene);
    add_reflections(scene, st.snapshot, kSeed + 2);
    st.before_droplets = Image(scene);
    paint_droplets(scene, kAa, kSeed + 3);
    st.before_refraction = Image(scene);
    apply_droplets(scene);
    st.colour = Image(kWidth, kHeight, 3);
    st.colour.copy_channels(scene);
    st.colour.add(make_glow(scene, 0.8f));
    st.final_scene = std::move(scene);
    st.tone_mapped = tone_map(st.colour);
    st.downsampled = downsample(st.tone_mapped, kAa);
    return st;
  }();
  return s;
}

// Runs `pass` on a fresh copy of `start` each iteration; the copy is not timed.
template <class Pass>
void run_on_copy(benchmark::State& state, const Image& start, Pass&& pass) {
  for (auto _ : state) {
    state.PauseTiming();
    Image scene(start);
    state.ResumeTiming();
    pass(scene);
    benchmark::DoNotOptimize(scene.data.data());
    state.PauseTiming();
    scene = Image();
    state.ResumeTiming();
  }
}

void BM_Sky(benchmark::State& state) {
  Image scene(kWidth, kHeight, kSceneChannels);
  for (auto _ : state) paint_sky(scene, kAa, kSeed);
}
void BM_CloudCover(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cloud_cover(kWidth, kHeight, kAa, kSeed).data.data());
}
void BM_ValueNoise(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(value_noise(kWidth, kHeight, kSeed, 0.18f).data.data());
}
void BM_Ground(benchmark::State& state) {
  run_on_copy(state, stages().before_ground, [](Image& s) { paint_ground(s, kAa, kSeed + 1); });
}
void BM_Knot(benchmark::State& state) {
  run_on_copy(state, stages().before_knot, [](Image& s) { paint_knot(s); });
}
void BM_Robot(benchmark::State& state) {
  run_on_copy(state, stages().before_robot, [](Image& s) {
    composite_robot(s, assets().robo, assets().material, assets().emissive, kAa);
  });
}
void BM_Reflections(benchmark::State& state) {
  run_on_copy(state, stages().before_reflections,
              [](Image& s) { add_reflections(s, stages().snapshot, kSeed + 2); });
}
void BM_Droplets(benchmark::State& state) {
  run_on_copy(state, stages().before_droplets, [](Image& s) { paint_droplets(s, kAa, kSeed + 3); });
}
void BM_Refraction(benchmark::State& state) {
  run_on_copy(state, stages().before_refraction, [](Image& s) { apply_droplets(s); });
}
void BM_Glow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(make_glow(stages().final_scene, 0.8f).data.data());
}
void BM_BoxBlur(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(box_blur(stages().colour, 30).data.data());
}
void BM_ToneMap(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tone_map(stages().colour).data.data());
}
void BM_Downsample(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(downsample(stages().tone_mapped, kAa).data.data());
}
void BM_Grade(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(apply_color_grader(stages().downsampled, assets().grader).data.data());
}

BENCHMARK(BM_Sky)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CloudCover)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ValueNoise)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ground)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Knot)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Robot)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reflections)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Droplets)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Refraction)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Glow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BoxBlur)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToneMap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Downsample)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Grade)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace neonvale
