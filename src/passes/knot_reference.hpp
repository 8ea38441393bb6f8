#pragma once
// The knot on a whole 12-channel scene buffer, and one bead of it, for the
// tests.
#include "core/image.hpp"
#include "core/step_progress.hpp"
#include "passes/knot.hpp"

namespace neonvale::reference {

// One bead of radius r on a 12-channel image, depth plane included.
void paint_bead(Image& scene, const KnotBead& bead, float r);
// paint_knot on a 12-channel image, depth plane included.
void paint_knot(Image& scene, StepProgress* progress = nullptr);

}  // namespace neonvale::reference
