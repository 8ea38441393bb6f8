#include "passes/rain.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/image.hpp"
#include "core/parallel.hpp"
#include "passes/channels.hpp"
#include "passes/droplets.hpp"
#include "passes/refraction.hpp"

namespace neonvale {

// Only the buffer's size enters, not the AA scale (reference::paint_droplets
// takes it and leaves it unused).
void paint_droplets_and_refract(const ImagePlanes& scene, std::uint32_t seed, StepProgress* progress) {
  if (progress) progress->set_total(scene.height);
  const int width = scene.width;
  const int height = scene.height;
  const std::size_t stride = std::size_t(width);
  const RainLayer rain = make_rain(width, height, seed);

  // The refraction reads colour at displaced and mirrored places, which can
  // lie in any band, so every read goes to the colour as it was before.
  Image before(width, height, 3);
  const ImagePlanes colour = planes_of(before);
  parallel_rows(height, width, [&](int begin, int end) {
    for (int c : {kRed, kGreen, kBlue})
      std::memcpy(colour.row(c, begin), scene.row(c, begin), std::size_t(end - begin) * stride * sizeof(float));
  });

  // Each band starts from zeroed rain planes, as the scene buffer's rain
  // planes start, receives every streak and drop in their order and is then
  // refracted; a band writes only its own rows of the scene.
  const int bands = (height + kRainBandRows - 1) / kRainBandRows;
  parallel_for(bands, [&](int first, int last) {
    std::vector<float> buffer(rain_band_floats(width));
    const std::size_t plane = std::size_t(kRainBandRows) * stride;
    for (int band = first; band < last; ++band) {
      const int y0 = band * kRainBandRows;
      const int rows = std::min(kRainBandRows, height - y0);
      std::fill(buffer.begin(), buffer.end(), 0.0f);
      ImagePlanes water;
      water.width = width;
      water.height = rows;
      water.channels = kSceneChannels;
      water.planes[kOffsetX] = buffer.data();
      water.planes[kOffsetY] = buffer.data() + plane;
      water.planes[kWater] = buffer.data() + 2 * plane;
      water.planes[kDrop] = buffer.data() + 3 * plane;
      paint_rain_rows(rain, water, y0);
      refract_rows(scene, colour, water, y0);
      advance(progress, rows);
    }
  });
}

}  // namespace neonvale
