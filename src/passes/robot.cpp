#include "passes/robot.hpp"

namespace neonvale {

// Not built yet: leaves the scene unchanged.
RobotSample robot_sample(const Image&, const Image&, const Image&, const Image&, float, float) { return {}; }
void composite_robot(Image&, const Image&, const Image&, const Image&, int) {}

}  // namespace neonvale
