#include "post/reflections.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "passes/value_noise.hpp"
#include "scene/channels.hpp"

namespace neonvale {

std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise) {
  const float wf = float(snapshot.width);
  const float hf = float(snapshot.height);
  // The ripples are laid out for an image 1280 samples wide.
  const float k = wf / 1280.0f;
  const float r = std::max(std::min(rho, 1.0f), 0.0f);
  const float n = noise - 0.5f;

  // Near surfaces ripple fully, farther ones less in proportion to depth.
  const float d = copy.sample(kDepth, x, y, false);
  const float u = 4.2f / std::max(d, 4.2f);

  const float p1 = (0.004f * x + 0.14f * y) / k;
  const float p2 = (0.025f * x + 0.09f * y) / k;
  // Fully reflective surfaces ripple at the lower spatial frequency.
  const float a = ((sinf(0.6f * p1) * r + sinf(1.6f * p1) * (1.0f - r)) * 9.0f + 70.0f * n) * k * u;
  const float c = ((sinf(0.6f * p2) * r + sinf(1.6f * p2) * (1.0f - r)) * 3.0f + 12.0f * n) * k * u;

  // The live mirror's distortion fades in from its mirror line to the bottom.
  const float s = std::max(std::min((y / hf - 0.825f) / 0.175f, 1.0f), 0.0f);
  const float s2 = s * s;

  // Live scene mirrored about 82.5 % of the height, backdrop about 59.5 %.
  const float live_x = x + s2 * a;
  const float live_y = 1.65f * hf - y + s2 * c;
  const float back_x = x + a;
  const float back_y = 1.19f * hf - y + c;

  const float live = y > 0.825f * hf ? copy.sample(kRobot, live_x, live_y, false) : 0.0f;

  std::array<float, 4> result;
  for (int ch = kRed; ch <= kBlue; ++ch) {
    const float m = (1.0f - live) * snapshot.sample(ch, back_x, back_y, false) +
                    live * copy.sample(ch, live_x, live_y, false);
    result[ch] = rho * m * 0.72f + (1.0f - 0.48f * rho) * copy.sample(ch, x, y, false);
  }
  // The snapshot holds planes 0 to 4, so its emission is plane kEmission too.
  const float glow = (1.0f - live) * snapshot.sample(kEmission, back_x, back_y, false) +
                     live * copy.sample(kEmission, live_x, live_y, false);
  result[3] = copy.sample(kEmission, x, y, false) + glow * rho * 0.32f;
  return result;
}

void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed) {
  // Every read goes to the copy, so no pixel sees another's reflection.
  const Image copy(scene);
  const Image noise = value_noise(scene.width, scene.height, seed, 1.0f);

  const float* reflectivity = copy.plane(kReflectivity);
  const float* noise_values = noise.plane(0);
  const std::vector<float*> planes = scene.channel_pointers();
  std::size_t i = 0;
  for (int y = 0; y < scene.height; ++y) {
    for (int x = 0; x < scene.width; ++x, ++i) {
      const float rho = reflectivity[i];
      if (!(rho > 0.0f)) continue;
      const std::array<float, 4> out = reflect_pixel(copy, snapshot, float(x), float(y), rho, noise_values[i]);
      planes[kRed][i] = out[0];
      planes[kGreen][i] = out[1];
      planes[kBlue][i] = out[2];
      planes[kEmission][i] = out[3];
    }
  }
}

}  // namespace neonvale
