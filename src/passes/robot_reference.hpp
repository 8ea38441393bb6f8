#pragma once
// The robot figure on a whole 12-channel scene buffer, and one pixel of it,
// for the tests.
#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "passes/robot.hpp"

namespace neonvale::reference {

// The figure's values at (u, v) of the assets, mirroring `environment`.
RobotSample robot_sample(const Image& environment, const Image& robo, const Image& robo_material,
                         const Image& robo_emissive, float u, float v);
// composite_robot on a 12-channel image, depth plane included.
void composite_robot(Image& scene, const Image& robo, const Image& robo_material, const Image& robo_emissive,
                     int aa_scale, StepProgress* progress = nullptr);

}  // namespace neonvale::reference
