// stage_times: renders like neonvale (same five flags) and prints the wall
// time and the user and system CPU time of every step of the scene driver,
// then of the save (into a temporary file), for profiling. System time is
// mostly the kernel clearing fresh pages.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "core/parallel.hpp"
#include "io/png_io.hpp"
#include "scene/scene.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
  Clock::time_point wall;
  double user, system;
};

double seconds(const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); }

Times now() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {Clock::now(), seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

void print(const char* name, const Times& from, const Times& to) {
  std::printf("%-12s %8.3f s  user %6.3f  sys %6.3f\n", name,
              std::chrono::duration<double>(to.wall - from.wall).count(), to.user - from.user,
              to.system - from.system);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace neonvale;
  try {
    const Config config = parse_command_line(argc, argv);
    check_settings(config);
    const Times start = now();
    const SceneAssets assets = load_scene_assets(asset_folder());
    Times last = now();
    print("assets", start, last);
    RenderObserver observer;
    observer.stage_begin = [&](const char*, const StepProgress&) { last = now(); };
    observer.stage_end = [&](const char* stage, const ImagePlanes&) { print(stage, last, now()); };
    const Image picture = render_scene(render_settings(config), assets, &observer);
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "stage_times.png";
    last = now();
    save_png(picture, out);
    print("save", last, now());
    std::filesystem::remove(out);
    const Times end = now();
    print("total", start, end);
    std::printf("(%d threads)\n", thread_count());
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
