#pragma once
// The ground step: the wet perspective ground with its magenta grid.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/image_planes.hpp"
#include "core/step_progress.hpp"
#include "passes/scene_depth.hpp"

namespace neonvale {

struct GroundSample {
  float r, g, b;
  float depth;
  float reflectivity;
  float emission;
  bool hit;  // false above the horizon; then no other field is meaningful
};

// The ground on planes held anywhere (colour, emission, reflectivity), with
// the depth in either of its forms; in the renderer's form nothing is written
// to it (the ground's depth is the row's, see ground_row_depth).
void paint_ground(const ImagePlanes& scene, const SceneDepth& depth, int aa_scale, std::uint32_t seed,
                  StepProgress* progress = nullptr);

// The depth row y of an H-row scene buffer holds once the sky and the ground
// are painted: the ground's where it is nearer than the sky (it wins whole
// rows, its depth depends on the row alone), the sky's elsewhere.
float ground_row_depth(int y, int height);
std::vector<float> ground_row_depths(int height);
// The first row the ground covers; the sky is never seen from there down.
int first_ground_row(int height);
// The stretch of the ground's two value noises (the puddles' and the warp's),
// and the floats of their grids, which paint_ground holds whatever the size.
constexpr float kPuddleStretch = 0.18f;
constexpr float kWarpStretch = 1.0f;
std::size_t ground_noise_floats();

}  // namespace neonvale
