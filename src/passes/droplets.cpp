#include "passes/droplets.hpp"

namespace neonvale {

// Not built yet: leaves the scene unchanged.
std::vector<RainStreak> make_streaks(Random&, int, int, int) { return {}; }
std::vector<RainDrop> make_drops(Random&, int, int, int) { return {}; }
void paint_streak(Image&, const RainStreak&) {}
void paint_drop(Image&, const RainDrop&) {}
void paint_droplets(Image&, int, std::uint32_t) {}

}  // namespace neonvale
