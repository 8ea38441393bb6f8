// stage_times: renders like neonvale (same five flags, nothing saved) and
// prints the wall time of every step of the scene driver, for profiling.
#include <chrono>
#include <cstdio>
#include <exception>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "scene/scene.hpp"
#include "core/parallel.hpp"

int main(int argc, char** argv) {
  using namespace neonvale;
  using Clock = std::chrono::steady_clock;
  try {
    const Config config = parse_command_line(argc, argv);
    check_settings(config);
    const auto start = Clock::now();
    const SceneAssets assets = load_scene_assets(asset_folder());
    std::printf("%-12s %8.3f s\n", "assets", std::chrono::duration<double>(Clock::now() - start).count());
    auto last = start;
    RenderObserver observer;
    observer.stage_begin = [&](const char*, const StepProgress&) { last = Clock::now(); };
    observer.stage_end = [&](const char* stage, const ImagePlanes&) {
      const auto now = Clock::now();
      std::printf("%-12s %8.3f s\n", stage, std::chrono::duration<double>(now - last).count());
    };
    render_scene(render_settings(config), assets, &observer);
    std::printf("%-12s %8.3f s (%d threads)\n", "total",
                std::chrono::duration<double>(Clock::now() - start).count(), thread_count());
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
