#pragma once
// Pass B: the wet perspective ground with its magenta grid.
#include <cstdint>
#include <vector>

#include "core/image.hpp"
#include "core/step_progress.hpp"

namespace neonvale {

struct GroundSample {
  float r, g, b;
  float depth;
  float reflectivity;
  float emission;
  bool hit;  // false above the horizon; then no other field is meaningful
};

GroundSample ground_sample(const Image& scene, float u, float v, const Image& warp, const Image& puddle,
                           float grain, int aa_scale);
// ground_sample after its two noise lookups: e is the warp noise minus 0.5,
// p the puddle noise, w and h the scene's size.
GroundSample ground_shade(float w, float h, float u, float v, float e, float p, float grain, int aa_scale);
// The depth paint_ground gives the pixels of each row of a buffer `height`
// rows tall, worked out with the very operations of ground_shade: every
// ground pixel of row y has depth entry y, bit for bit. Rows at or above the
// horizon hold no ground; their entries are not finite or not positive.
std::vector<float> ground_row_depths(int height);
void paint_ground(Image& scene, int aa_scale, std::uint32_t seed, StepProgress* progress = nullptr);

}  // namespace neonvale
