// Fuzzes the colour grading with arbitrary graders and images. The first
// eight bytes choose the sizes and value kinds, the rest fill the planes.
// apply_color_grader must throw std::invalid_argument with one of its three
// messages or leave a graded image of the input's size; a crash, another exception
// or a sanitizer report is a finding. With values in 0..1 the grading is a
// convex blend of grader samples, so its output must stay in their range.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/image.hpp"
#include "post/color_grade.hpp"

namespace {

using neonvale::Image;

// Takes values from the input: raw float bit patterns, or 16-bit fractions
// in 0..1. Missing bytes read as zero.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  float value(bool unit) {
    if (unit) return float(unsigned(byte()) | unsigned(byte()) << 8) / 65535.0f;
    std::uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= std::uint32_t(byte()) << (8 * k);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const int s = in.byte() % 18;
  const std::uint8_t flags = in.byte();
  const int other_height = (int(in.byte()) | int(in.byte()) << 8) % 300;
  const int grader_height = (flags & 1) ? s * s : other_height;
  const int grader_channels = in.byte() % 6;
  const int image_width = in.byte() % 9;
  const int image_height = in.byte() % 9;
  const std::uint8_t c = in.byte();
  const int image_channels = (c & 0x80) ? c % 6 : 3;
  const bool unit_image = flags & 2, unit_grader = flags & 4;

  Image grader(s, grader_height, grader_channels);
  for (float& v : grader.data) v = in.value(unit_grader);
  Image image(image_width, image_height, image_channels);
  for (float& v : image.data) v = in.value(unit_image);

  Image out(image);
  try {
    neonvale::apply_color_grader(out, grader);
  } catch (const std::invalid_argument& e) {
    const std::string m = e.what();
    if (m != "invalid color grader dimensions" && m != "invalid grader channel count" &&
        m != "invalid image channel count") {
      std::fprintf(stderr, "unexpected message: %s\n", m.c_str());
      std::abort();
    }
    return 0;
  }
  if (out.width != image.width || out.height != image.height || out.channels != 3 ||
      out.data.size() != image.data.size())
    std::abort();

  // An unbuilt grading returns its input unchanged; the range holds only for
  // a real lookup.
  const bool changed = !image.data.empty() &&
                       std::memcmp(out.data.data(), image.data.data(), image.data.size() * sizeof(float)) != 0;
  if (unit_image && unit_grader && changed && !grader.data.empty()) {
    float lo = 1.0f, hi = 0.0f;
    for (int k = 0; k < 3; ++k) {
      const float* p = grader.plane(k);
      for (std::size_t i = 0; i < grader.plane_size(); ++i) {
        lo = std::min(lo, p[i]);
        hi = std::max(hi, p[i]);
      }
    }
    for (float v : out.data)
      if (!(v >= lo - 1e-5f && v <= hi + 1e-5f)) {
        std::fprintf(stderr, "graded value %g outside the grader's range %g..%g\n", double(v), double(lo), double(hi));
        std::abort();
      }
  }
  return 0;
}
