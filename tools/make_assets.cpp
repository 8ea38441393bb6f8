// make_assets: writes the four asset files of assets/01_neonvale (or of the
// folder given as the only argument). Deterministic: the same program always
// writes the same bytes.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "assets.hpp"

int main(int argc, char** argv) {
  const std::filesystem::path folder = argc > 1 ? argv[1] : "assets/01_neonvale";
  try {
    std::filesystem::create_directories(folder);
    neonvale::assets::write_robot_assets(folder);
    neonvale::assets::write_color_grader(folder);
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
