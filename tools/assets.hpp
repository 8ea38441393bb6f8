#pragma once
// The pieces of the asset generator: each writes its files into a folder.
#include <filesystem>

#include "core/image.hpp"

namespace neonvale::assets {

// robo.png, robo_material.png, robo_emissive.png
void write_robot_assets(const std::filesystem::path& folder);
// color_grader.png
void write_color_grader(const std::filesystem::path& folder);
// An identity colour cube of the given side: the grader that changes nothing.
Image identity_color_grader(int side);

}  // namespace neonvale::assets
