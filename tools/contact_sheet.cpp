// contact_sheet: renders a small picture the way neonvale does and, after
// each step of the scene driver, writes a PNG of what that step produced, for
// docs/pipeline.md. Run it in a folder that holds assets/01_neonvale:
//
//   contact_sheet OUTPUT_FOLDER [option value]...
//
// The options are neonvale's; the defaults here are -w 400 -h 225 -a 2.
//
// Every picture has the output size: supersampled images are box-averaged
// over each aa x aa block first. Linear colour (the scene buffer and the
// colour image before the tone mapping) is shown through one fixed curve,
// x / (1 + x) and then gamma 1/2.2, so the steps compare with each other and
// not with the finished picture; the tone-mapped, downsampled and graded
// images are shown as they are. Channels that are not colour are shown grey.
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/catalogue.hpp"
#include "app/options.hpp"
#include "core/random.hpp"
#include "io/png_io.hpp"
#include "passes/channels.hpp"
#include "passes/droplets_reference.hpp"
#include "scene/scene.hpp"

namespace {

using neonvale::Image;
using neonvale::ImagePlanes;
namespace fs = std::filesystem;

float fixed_curve(float linear) {
  if (!(linear > 0.0f)) return 0.0f;
  return std::pow(linear / (1.0f + linear), 1.0f / 2.2f);
}

float clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// The mean of each factor x factor block of plane c.
float block_mean(const ImagePlanes& image, int c, int factor, int x, int y) {
  float sum = 0.0f;
  for (int j = 0; j < factor; ++j)
    for (int i = 0; i < factor; ++i) sum += image.row(c, y * factor + j)[x * factor + i];
  return sum / float(factor * factor);
}

// A 3-channel picture at the output size whose pixel is `pixel(block means)`.
using Pixel = std::function<void(const float* means, float* rgb)>;
Image view(const ImagePlanes& image, int factor, const std::vector<int>& planes, const Pixel& pixel) {
  Image out(image.width / factor, image.height / factor, 3);
  std::vector<float> means(planes.size());
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      for (std::size_t k = 0; k < planes.size(); ++k) means[k] = block_mean(image, planes[k], factor, x, y);
      float rgb[3];
      pixel(means.data(), rgb);
      for (int c = 0; c < 3; ++c) out.at(c, x, y) = rgb[c];
    }
  }
  return out;
}

Image linear_colour(const ImagePlanes& image, int factor) {
  return view(image, factor, {neonvale::kRed, neonvale::kGreen, neonvale::kBlue}, [](const float* m, float* rgb) {
    for (int c = 0; c < 3; ++c) rgb[c] = fixed_curve(m[c]);
  });
}

Image display_colour(const ImagePlanes& image, int factor) {
  return view(image, factor, {0, 1, 2}, [](const float* m, float* rgb) {
    for (int c = 0; c < 3; ++c) rgb[c] = clamp01(m[c]);
  });
}

// Coverages and reflectivity are 0..1 already.
Image grey(const ImagePlanes& image, int factor, int plane) {
  return view(image, factor, {plane}, [](const float* m, float* rgb) { rgb[0] = rgb[1] = rgb[2] = clamp01(m[0]); });
}

// Emission is unbounded: the same fixed curve as the colour.
Image grey_curve(const ImagePlanes& image, int factor, int plane) {
  return view(image, factor, {plane}, [](const float* m, float* rgb) { rgb[0] = rgb[1] = rgb[2] = fixed_curve(m[0]); });
}

// The refraction offset as colour: x to red, y to green, 0 is mid-grey,
// scaled by the largest magnitude in the image.
Image offset_view(const ImagePlanes& image, int factor) {
  float largest = 0.0f;
  for (int c : {neonvale::kOffsetX, neonvale::kOffsetY}) {
    const float* p = image[c];
    for (std::size_t i = 0; i < image.plane_size(); ++i) largest = std::fmax(largest, std::fabs(p[i]));
  }
  const float scale = largest > 0.0f ? 0.5f / largest : 0.0f;
  return view(image, factor, {neonvale::kOffsetX, neonvale::kOffsetY}, [scale](const float* m, float* rgb) {
    rgb[0] = clamp01(0.5f + m[0] * scale);
    rgb[1] = clamp01(0.5f + m[1] * scale);
    rgb[2] = 0.5f;
  });
}

class Sheet {
 public:
  Sheet(fs::path folder, int aa, std::uint32_t seed) : folder_(std::move(folder)), aa_(aa), seed_(seed) {}

  void stage_end(const char* stage, const ImagePlanes& result) {
    ++index_;
    const std::string name = stage;
    if (name == "sky" || name == "ground" || name == "knot" || name == "robot" || name == "reflections" ||
        name == "rain")
      write(name, "", linear_colour(result, aa_));
    if (name == "ground") write(name, "reflectivity", grey(result, aa_, neonvale::kReflectivity));
    if (name == "robot") write(name, "coverage", grey(result, aa_, neonvale::kRobot));
    if (name == "rain") {
      write_water(result.width, result.height);
      write(name, "emission", grey_curve(result, aa_, neonvale::kEmission));
      // The colour before the glow, to show the glow alone.
      before_glow_ = Image(result.width, result.height, 3);
      for (int c = 0; c < 3; ++c) std::copy_n(result[c], result.plane_size(), before_glow_.plane(c));
    }
    if (name == "glow") {
      write(name, "", linear_colour(result, aa_));
      Image alone(before_glow_.width, before_glow_.height, 3);
      for (int c = 0; c < 3; ++c) {
        float* a = alone.plane(c);
        const float* b = before_glow_.plane(c);
        for (std::size_t i = 0; i < alone.plane_size(); ++i) a[i] = result[c][i] - b[i];
      }
      write(name, "alone", linear_colour(planes_of(alone), aa_));
      before_glow_ = Image();
    }
    // From the tone mapping on, the picture is at the output size already.
    if (name == "tone_map" || name == "grade") write(name, "", display_colour(result, 1));
  }

 private:
  // The renderer keeps the water on the lens only a band of rows at a time;
  // the layer does not depend on the scene, so it is painted again here on
  // planes of its own, from the same seed: the fourth the scene draws.
  void write_water(int width, int height) {
    neonvale::Random rng(seed_);
    for (int i = 0; i < 3; ++i) rng.draw_seed();
    Image water(width, height, neonvale::kSceneChannels);
    neonvale::reference::paint_droplets(water, aa_, rng.draw_seed());
    const ImagePlanes planes = planes_of(water);
    write("rain", "water", grey(planes, aa_, neonvale::kWater));
    write("rain", "drops", grey(planes, aa_, neonvale::kDrop));
    write("rain", "offset", offset_view(planes, aa_));
  }

 private:
  void write(const std::string& stage, const std::string& what, const Image& picture) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", index_);
    const fs::path path = folder_ / (std::string(number) + "_" + stage + (what.empty() ? "" : "_" + what) + ".png");
    neonvale::save_png(picture, path);
    std::printf("%s\n", path.string().c_str());
  }

  fs::path folder_;
  int aa_;
  std::uint32_t seed_;
  int index_ = 0;
  Image before_glow_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace neonvale;
  if (argc < 2) {
    std::printf("usage: contact_sheet OUTPUT_FOLDER [option value]...\n");
    return 1;
  }
  // The small defaults come first, so options given on the command line win.
  std::vector<const char*> args = {argv[0], "-w", "400", "-h", "225", "-a", "2"};
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  Config config;
  try {
    config = parse_command_line(int(args.size()), args.data());
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    print_usage();
    return 1;
  }
  try {
    check_settings(config);
    fs::create_directories(argv[1]);
    const RenderSettings settings = render_settings(config);
    Sheet sheet(argv[1], config.aa_scale, settings.seed);
    RenderObserver observer;
    observer.stage_end = [&](const char* stage, const ImagePlanes& result) { sheet.stage_end(stage, result); };
    render_scene(settings, load_scene_assets(asset_folder()), &observer);
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    return 1;
  }
  return 0;
}
