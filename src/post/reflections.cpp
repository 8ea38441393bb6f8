#include "post/reflections.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/sampling.hpp"
#include "core/parallel.hpp"

#include "filters/value_noise.hpp"
#include "core/channels.hpp"

namespace neonvale {

namespace {

// Reads of the scene as it was before the pass. Only colour and emission
// change during the pass, and only on the rows that hold reflective pixels,
// so only those planes of those rows are copied; every other read goes to
// the scene itself, which holds the same values.
struct SceneBefore {
  const Image* scene;
  const Image* copy;  // planes 0, 1, 2 and emission of rows first..last
  int first, last;

  const float* row(int c, int y) const {
    if (y >= first && y <= last && (c <= kBlue || c == kEmission)) {
      const int plane = c == kEmission ? 3 : c;
      return copy->plane(plane) + std::size_t(y - first) * std::size_t(copy->width);
    }
    return scene->plane(c) + std::size_t(y) * std::size_t(scene->width);
  }
  float sample(int c, float x, float y) const {
    const SampleTap tx = sample_tap(x, scene->width, false);
    const SampleTap ty = sample_tap(y, scene->height, false);
    const float* row0 = row(c, ty.i0);
    const float* row1 = row(c, ty.i1);
    const float top = (1.0f - tx.f) * row0[tx.i0] + tx.f * row0[tx.i1];
    const float bottom = (1.0f - tx.f) * row1[tx.i0] + tx.f * row1[tx.i1];
    return top * (1.0f - ty.f) + bottom * ty.f;
  }
};

// A whole copy of the scene, read as it is.
struct WholeCopy {
  const Image* copy;
  float sample(int c, float x, float y) const { return copy->sample(c, x, y, false); }
};

template <class Before>
std::array<float, 4> reflect(const Before& copy, const Image& snapshot, float x, float y, float rho, float noise) {
  const float wf = float(snapshot.width);
  const float hf = float(snapshot.height);
  // The ripples are laid out for an image 1280 samples wide.
  const float k = wf / 1280.0f;
  const float r = std::max(std::min(rho, 1.0f), 0.0f);
  const float n = noise - 0.5f;

  // Near surfaces ripple fully, farther ones less in proportion to depth.
  const float d = copy.sample(kDepth, x, y);
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

  const float live = y > 0.825f * hf ? copy.sample(kRobot, live_x, live_y) : 0.0f;

  std::array<float, 4> result;
  for (int ch = kRed; ch <= kBlue; ++ch) {
    const float m = (1.0f - live) * snapshot.sample(ch, back_x, back_y, false) +
                    live * copy.sample(ch, live_x, live_y);
    result[ch] = rho * m * 0.72f + (1.0f - 0.48f * rho) * copy.sample(ch, x, y);
  }
  // The snapshot holds planes 0 to 4, so its emission is plane kEmission too.
  const float glow = (1.0f - live) * snapshot.sample(kEmission, back_x, back_y, false) +
                     live * copy.sample(kEmission, live_x, live_y);
  result[3] = copy.sample(kEmission, x, y) + glow * rho * 0.32f;
  return result;
}

}  // namespace

std::array<float, 4> reflect_pixel(const Image& copy, const Image& snapshot, float x, float y, float rho,
                                   float noise) {
  return reflect(WholeCopy{&copy}, snapshot, x, y, rho, noise);
}

void add_reflections(Image& scene, const Image& snapshot, std::uint32_t seed, StepProgress* progress) {
  const int width = scene.width;
  const int height = scene.height;
  const std::size_t stride = std::size_t(width);
  const float* reflectivity = scene.plane(kReflectivity);  // not written by this pass

  // The rows that hold a reflective pixel: the only rows the pass writes.
  int first = height, last = -1;
  for (int y = 0; y < height; ++y) {
    const float* row = reflectivity + std::size_t(y) * stride;
    for (int x = 0; x < width; ++x)
      if (row[x] > 0.0f) {
        first = std::min(first, y);
        last = y;
        break;
      }
  }
  const int rows = last >= first ? last - first + 1 : 0;
  // The noise takes about as long as a third of the reflective rows.
  if (progress) progress->set_total(rows + rows / 3);

  // Every read goes to the scene as it was, so no pixel sees another's reflection.
  Image copy(width, rows, 4);
  const int copied[4] = {kRed, kGreen, kBlue, kEmission};
  parallel_rows(rows, width, [&](int begin, int end) {
    for (int p = 0; p < 4; ++p)
      std::memcpy(copy.plane(p) + std::size_t(begin) * stride,
                  scene.plane(copied[p]) + std::size_t(first + begin) * stride,
                  std::size_t(end - begin) * stride * sizeof(float));
  });
  const Image noise = value_noise(width, height, seed, 1.0f);
  advance(progress, rows / 3);
  const SceneBefore before{&scene, &copy, first, last};

  const std::vector<float*> planes = scene.channel_pointers();
  parallel_rows(rows, width, [&](int begin, int end) {
    for (int y = first + begin; y < first + end; ++y) {
      const std::size_t offset = std::size_t(y) * stride;
      for (int x = 0; x < width; ++x) {
        const float rho = reflectivity[offset + std::size_t(x)];
        if (!(rho > 0.0f)) continue;
        const std::array<float, 4> out =
            reflect(before, snapshot, float(x), float(y), rho, noise.plane(0)[offset + std::size_t(x)]);
        planes[kRed][offset + std::size_t(x)] = out[0];
        planes[kGreen][offset + std::size_t(x)] = out[1];
        planes[kBlue][offset + std::size_t(x)] = out[2];
        planes[kEmission][offset + std::size_t(x)] = out[3];
      }
    }
    advance(progress, end - begin);
  });
}

}  // namespace neonvale
