#pragma once
// Up-front refusals of render settings that cannot succeed, so a run fails at
// once with a message instead of overflowing, being killed for memory or
// rendering a picture that cannot be saved.
#include "app/options.hpp"

namespace neonvale {

// Throws std::length_error when width x aa_scale, height x aa_scale or the
// element count of the 12-channel scene buffer does not fit a signed 32-bit
// int, and the refusal of check_memory when the run cannot fit in the memory
// available now. Negative sizes are "Invalid render settings". Allocates nothing.
void check_render_size(const Config& config);

// Throws std::runtime_error("Cannot allocate PNG output"), the refusal of the
// PNG writer, when the picture is wider or taller than it can save.
void check_output_size(const Config& config);

}  // namespace neonvale
