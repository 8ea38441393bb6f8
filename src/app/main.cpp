// neonvale: renders "Lumen Drift" and writes it as a PNG file. Every failure
// ends here as one "E: " line on standard output and exit code 1.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "app/progress.hpp"
#include "app/signals.hpp"
#include "image/png_io.hpp"
#include "scene/scene.hpp"
#include "util/render_limits.hpp"

int main(int argc, char** argv) {
  using namespace neonvale;
  install_signal_handlers();  // before anything can create the output's temporary
  Config config;
  if (!parse_or_print_usage(argc, argv, config)) return 1;
  try {
    check_settings(config);
    // A picture the PNG writer would refuse is refused before the render.
    check_output_size(config);
    const std::filesystem::path output = output_name(config);
    ProgressDisplay progress;  // on standard error, only when it is a terminal
    progress.step("loading assets");
    Image picture = render_scene(config, progress.observer());
    progress.step("saving");
    save_png(picture, output);
    progress.finish(output);
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
