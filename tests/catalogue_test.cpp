#include "app/catalogue.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace neonvale {
namespace {

std::string check(int width, int height, int aa_scale, int render_id, int threads = 0) {
  Config c;
  c.width = width;
  c.height = height;
  c.aa_scale = aa_scale;
  c.render_id = render_id;
  c.threads = threads;
  try {
    check_settings(c);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "ok";
}

TEST(Settings, AcceptsMinimumSizeAndPowerOfTwoScales) {
  EXPECT_EQ(check(64, 64, 1, 1), "ok");
  EXPECT_EQ(check(3840, 2160, 2, 1), "ok");
  EXPECT_EQ(check(100, 70, 1 << 30, 1), "ok");  // no upper bound here
}

TEST(Settings, RejectsSmallSizesAndOtherScales) {
  EXPECT_EQ(check(63, 64, 1, 1), "Invalid render settings");
  EXPECT_EQ(check(64, 63, 1, 1), "Invalid render settings");
  for (int aa : {0, 3, 6, -2, -2147483647 - 1}) EXPECT_EQ(check(64, 64, aa, 1), "Invalid render settings") << aa;
}

TEST(Settings, RejectsRenderIdsOutsideTheCatalogue) {
  EXPECT_EQ(check(64, 64, 1, 0), "invalid render id");
  EXPECT_EQ(check(64, 64, 1, 2), "invalid render id");
  EXPECT_EQ(check(64, 64, 1, -1), "invalid render id");
}

TEST(Settings, SettingsAreTestedBeforeTheRenderId) { EXPECT_EQ(check(10, 64, 1, 5), "Invalid render settings"); }

TEST(Settings, ThreadCountsFromZeroToTheLimit) {
  for (int n : {0, 1, 7, kMaxThreads}) EXPECT_EQ(check(64, 64, 1, 1, n), "ok") << n;
  for (int n : {-1, kMaxThreads + 1, -2147483647 - 1}) EXPECT_EQ(check(64, 64, 1, 1, n), "invalid thread count") << n;
  EXPECT_EQ(check(64, 64, 1, 2, -1), "invalid render id");  // the render id is tested first
}

TEST(OutputName, PadsTheIdToTwoDigits) {
  EXPECT_EQ(output_name(Config{}), "./01_LumenDrift.png");
  EXPECT_EQ(output_name(12, "Key"), "./12_Key.png");
  EXPECT_EQ(output_name(123, "Key"), "./123_Key.png");
  Config c;
  c.output = "/tmp/poster.png";
  EXPECT_EQ(output_path(c), "/tmp/poster.png");
}

// What a picture says of how it was made names every setting that changes
// its pixels, and nothing that does not.
TEST(OutputName, ProvenanceNamesVersionAndSettings) {
  const Config c{320, 180, 4, -7, 1, 3, "elsewhere.png", "my assets"};
  EXPECT_EQ(provenance_text(c), version_line() + " -w 320 -h 180 -a 4 -s -7 -r 1");
}

// The renderer takes the seed as 32 unsigned bits: a negative seed on the
// command line keeps its two's-complement bits rather than being clamped or
// rejected.
TEST(Settings, RenderSettingsKeepTheSeedsBits) {
  Config c;
  c.width = 100;
  c.height = 70;
  c.aa_scale = 4;
  c.seed = -2;
  const RenderSettings s = render_settings(c);
  EXPECT_EQ(s.width, 100);
  EXPECT_EQ(s.height, 70);
  EXPECT_EQ(s.aa_scale, 4);
  EXPECT_EQ(s.seed, 4294967294u);
  c.seed = -2147483647 - 1;
  EXPECT_EQ(render_settings(c).seed, 2147483648u);
}

}  // namespace
}  // namespace neonvale
