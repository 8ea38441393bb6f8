// Google Benchmark cases for every step of the stage table, as the driver
// runs it, at 1280 x 720 with AA 2 (a 2560 x 1440 scene buffer), and for the
// save. Each case starts from the render state the steps before it left, so
// it measures the step on realistic content; the copy of that state taken for
// every iteration is not timed. Run from anywhere: the assets are read from
// the source tree.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "io/png_io.hpp"
#include "scene/scene.hpp"
#include "scene/stages.hpp"

namespace neonvale {
namespace {

const SceneAssets& assets() {
  static const SceneAssets a = load_scene_assets(std::filesystem::path(NEONVALE_SOURCE_DIR) / "assets" / "01_neonvale");
  return a;
}

RenderSettings settings() {
  RenderSettings s;
  s.width = 1280;
  s.height = 720;
  s.aa_scale = 2;
  return s;
}

// One render advanced step by step, untimed, as the cases ask for the state
// before their step; cases run in table order.
struct SharedRender {
  RenderState state{settings(), assets()};
  std::size_t next = 0;

  const RenderState& before(std::size_t step) {
    const auto& stages = render_stages();
    for (; next < step; ++next) {
      StepProgress ignored;
      stages[next].run(state, ignored);
    }
    return state;
  }
};

SharedRender& shared() {
  static SharedRender render;
  return render;
}

void run_step(benchmark::State& bench, std::size_t step) {
  const Stage& stage = render_stages()[step];
  const RenderState& start = shared().before(step);
  for (auto _ : bench) {
    bench.PauseTiming();
    auto copy = std::make_unique<RenderState>(start);
    StepProgress progress;
    bench.ResumeTiming();
    benchmark::DoNotOptimize(stage.run(*copy, progress).planes[0]);
    bench.PauseTiming();
    copy.reset();
    bench.ResumeTiming();
  }
}

void save(benchmark::State& bench) {
  const Image& picture = shared().before(render_stages().size()).colour;
  char folder[] = "/tmp/neonvale-bench-XXXXXX";
  if (!::mkdtemp(folder)) {
    bench.SkipWithError("cannot make a temporary folder");
    return;
  }
  const std::filesystem::path path = std::filesystem::path(folder) / "01_LumenDrift.png";
  for (auto _ : bench) save_png(picture, path);
  std::filesystem::remove_all(folder);
}

[[maybe_unused]] const bool registered = [] {
  const auto& stages = render_stages();
  for (std::size_t i = 0; i < stages.size(); ++i)
    benchmark::RegisterBenchmark((std::string("step/") + stages[i].name).c_str(),
                                 [i](benchmark::State& bench) { run_step(bench, i); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  benchmark::RegisterBenchmark("step/save", save)->Unit(benchmark::kMillisecond)->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace neonvale
