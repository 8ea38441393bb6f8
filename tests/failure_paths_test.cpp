// Every way a run can fail on its files, through the real executable: each
// must print exactly one "E: " line, exit with 1, write nothing to standard
// error, leave no temporary file and leave an older picture untouched.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "io/png_io.hpp"
#include "png_craft.hpp"
#include "test_support.hpp"

namespace neonvale {
namespace {

namespace fs = std::filesystem;
using test::Chunk;
using test::RunResult;
using test::TempDir;

const char* const kAssets[] = {"robo.png", "robo_material.png", "robo_emissive.png", "color_grader.png"};
const std::string kSmall = " -w 64 -h 64 -a 1";
const std::string kOlderPicture = "an older picture that a failed run must leave alone\n";

std::string exe() { return std::string("'") + NEONVALE_EXE + "'"; }
std::string asset_path(const std::string& name) { return "./assets/01_neonvale/" + name; }

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

using test::built_with_address_sanitizer;
using test::built_with_sanitizer;
using test::built_with_thread_sanitizer;

// A folder with the shipped assets and an older ./01_LumenDrift.png.
struct Workspace {
  TempDir dir;
  Workspace() {
    dir.install_assets();
    write_file(output(), kOlderPicture);
  }
  fs::path output() const { return dir.path() / "01_LumenDrift.png"; }
  fs::path asset(const std::string& name) const { return dir.path() / "assets" / "01_neonvale" / name; }
  std::string asset_bytes(const std::string& name) const { return test::read_file(asset(name)); }
  RunResult run(const std::string& prefix = "", const std::string& args = kSmall) const {
    return test::run_in(dir.path(), prefix + exe() + args);
  }
};

using test::leftover_temporaries;

// The common promise of every failure; `line` is the whole expected output.
void expect_clean_failure(const Workspace& w, const RunResult& r, const std::string& line) {
  EXPECT_EQ(r.out, line + "\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::read_file(w.output()), kOlderPicture);
  EXPECT_EQ(leftover_temporaries(w.dir.path()), std::vector<std::string>{});
}

// The same when only the start of the message is fixed.
void expect_clean_failure_starting(const Workspace& w, const RunResult& r, const std::string& start) {
  EXPECT_EQ(r.out.rfind(start, 0), 0u) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::read_file(w.output()), kOlderPicture);
  EXPECT_EQ(leftover_temporaries(w.dir.path()), std::vector<std::string>{});
}

bool unprivileged_prefix(const Workspace& w, std::string* prefix) {
  return test::unprivileged_prefix(w.dir.path(), prefix);
}

// A small valid RGB file to damage.
std::string tiny_png() {
  test::PngPicture p;
  p.width = 2;
  p.height = 2;
  p.samples = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
  return test::encode_png(p);
}

std::size_t chunk_index(const std::vector<Chunk>& chunks, const std::string& type) {
  for (std::size_t i = 0; i < chunks.size(); ++i)
    if (chunks[i].type == type) return i;
  ADD_FAILURE() << "no " << type << " chunk";
  return 0;
}

// tiny_png() with the header's width and height replaced and its CRC fixed.
std::string png_with_size(std::uint32_t width, std::uint32_t height) {
  std::vector<Chunk> chunks = test::read_chunks(tiny_png());
  std::string& ihdr = chunks[chunk_index(chunks, "IHDR")].data;
  test::put_u32(ihdr, 0, width);
  test::put_u32(ihdr, 4, height);
  return test::write_chunks(chunks);
}

TEST(AssetFailure, MissingFolderOrPipeInPlaceOfAnyAssetCannotBeOpened) {
  for (const char* name : kAssets) {
    SCOPED_TRACE(name);
    const std::string message = "E: Cannot open PNG: " + asset_path(name);
    {
      Workspace w;
      fs::remove(w.asset(name));
      expect_clean_failure(w, w.run(), message);
    }
    {
      Workspace w;
      fs::remove(w.asset(name));
      fs::create_directory(w.asset(name));
      expect_clean_failure(w, w.run(), message);
    }
    {
      // A named pipe with no writer must not block the run.
      Workspace w;
      fs::remove(w.asset(name));
      ASSERT_EQ(::mkfifo(w.asset(name).c_str(), 0644), 0);
      expect_clean_failure(w, w.run("timeout 120 "), message);  // only a guard against a hang
    }
  }
}

TEST(AssetFailure, UnreadableAssetCannotBeOpened) {
  Workspace probe;
  std::string prefix;
  if (!unprivileged_prefix(probe, &prefix)) GTEST_SKIP() << "running as root and cannot drop capabilities";
  for (const char* name : kAssets) {
    SCOPED_TRACE(name);
    Workspace w;
    ASSERT_EQ(::chmod(w.asset(name).c_str(), 0), 0);
    expect_clean_failure(w, w.run(prefix), "E: Cannot open PNG: " + asset_path(name));
  }
}

TEST(AssetFailure, FileThatIsNotAPngCannotBeDecoded) {
  const std::string not_png[] = {"", "hello, this is text and not a picture\n", test::kPngSignature,
                                 test::kPngSignature + std::string(100, '\0')};
  for (const char* name : kAssets) {
    for (const std::string& bytes : not_png) {
      SCOPED_TRACE(std::string(name) + ", " + std::to_string(bytes.size()) + " bytes");
      Workspace w;
      write_file(w.asset(name), bytes);
      expect_clean_failure(w, w.run(), "E: Cannot decode PNG: " + asset_path(name));
    }
  }
}

TEST(AssetFailure, TruncatedPngCannotBeDecoded) {
  Workspace w;
  const std::string whole = w.asset_bytes("robo.png");
  // Inside the header, just after it, inside the image data and just before
  // the end chunk: each cut must fail, none may be taken as a shorter picture.
  const std::size_t cuts[] = {20, 33, 33 + 20, whole.size() / 2, whole.size() - 12, whole.size() - 1};
  for (std::size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    write_file(w.asset("robo.png"), whole.substr(0, cut));
    expect_clean_failure(w, w.run(), "E: Cannot decode PNG: " + asset_path("robo.png"));
  }
}

TEST(AssetFailure, BadCrcInAnyChunkCannotBeDecoded) {
  Workspace w;
  const std::vector<Chunk> original = test::read_chunks(w.asset_bytes("color_grader.png"));
  std::vector<std::vector<Chunk>> damaged;
  for (const char* type : {"IHDR", "IDAT", "IEND"}) {
    std::vector<Chunk> chunks = original;
    chunks[chunk_index(chunks, type)].crc ^= 1u;
    damaged.push_back(chunks);
  }
  // An ancillary chunk too: a damaged transparency chunk that were merely
  // skipped would change the channel count unnoticed.
  std::vector<Chunk> with_text = original;
  Chunk text{"tEXt", std::string("Comment\0damaged", 15), 0};
  text.crc = test::png_crc(text.type + text.data) ^ 0x80000000u;
  with_text.insert(with_text.begin() + 1, text);
  damaged.push_back(with_text);
  // The image data altered under a correct CRC: the compressed stream breaks.
  std::vector<Chunk> bad_stream = original;
  Chunk& idat = bad_stream[chunk_index(bad_stream, "IDAT")];
  for (std::size_t i = 2; i < idat.data.size(); i += 3) idat.data[i] = char(~idat.data[i]);
  idat.crc = test::png_crc(idat.type + idat.data);
  damaged.push_back(bad_stream);

  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE("damage " + std::to_string(i));
    write_file(w.asset("color_grader.png"), test::write_chunks(damaged[i], false));
    expect_clean_failure(w, w.run(), "E: Cannot decode PNG: " + asset_path("color_grader.png"));
  }
}

TEST(AssetFailure, ZeroOrOversizeHeaderCannotBeDecoded) {
  const std::uint32_t sizes[][2] = {{0, 2}, {2, 0}, {0, 0}, {23171, 2}, {2, 23171}, {0x7fffffffu, 1},
                                    {0x80000000u, 1}, {0xffffffffu, 0xffffffffu}};
  Workspace w;
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
    write_file(w.asset("robo.png"), png_with_size(size[0], size[1]));
    expect_clean_failure(w, w.run(), "E: Cannot decode PNG: " + asset_path("robo.png"));
  }
}

TEST(AssetFailure, LargestHeaderWithoutItsDataFailsWithoutTouchingItsRows) {
  // 23170 x 23170 is allowed, but the data behind it is 2 x 2 pixels. Either
  // the memory check or the first missing row ends the load, without first
  // touching the 2 GB of row buffer the header promises.
  Workspace w;
  write_file(w.asset("robo.png"), png_with_size(23170, 23170));
  const RunResult r = w.run();
  expect_clean_failure_starting(w, r, "E: Cannot decode PNG: " + asset_path("robo.png"));
  // AddressSanitizer marks a shadow byte for every 8 bytes it hands out, so
  // there the untouched row buffer still costs an eighth of its size.
  // ThreadSanitizer keeps two shadow bytes for each byte the other assets'
  // decoding touches, and its own tables: up to three times the plain need,
  // still half of what touching the row buffer would take.
  const long row_buffer_kib = 23170L * 23170 * 3 / 1024;
  const long plain_kib = 256 * 1024;
  EXPECT_LT(r.max_rss_kib, (built_with_thread_sanitizer() ? 3 * plain_kib : plain_kib) +
                               (built_with_address_sanitizer() ? row_buffer_kib / 8 : 0));
}

TEST(AssetFailure, HeaderBeyondAvailableMemoryIsRefusedBeforeDecoding) {
  if (built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  Workspace w;
  write_file(w.asset("robo.png"), png_with_size(23170, 23170));
  const RunResult r = w.run("prlimit --as=1073741824 ");
  expect_clean_failure(w, r, "E: Cannot decode PNG: " + asset_path("robo.png") +
                                 ": 23170 x 23170 pixels need more memory than is available");
}

// Each 8-bit asset re-encoded with 16-bit samples v * 257, which load as
// exactly v / 255, optionally interlaced (assets already stored with 16 bits
// keep their samples): the picture must not change by one bit.
TEST(AssetLoading, SixteenBitAndInterlacedAssetsGiveTheSamePicture) {
  Workspace reference;
  fs::remove(reference.output());
  ASSERT_EQ(reference.run().exit_code, 0);
  const std::string expected = test::read_file(reference.output());

  struct Variant {
    int bit_depth;
    bool interlaced;
  };
  for (const Variant variant : {Variant{8, true}, Variant{16, false}, Variant{16, true}}) {
    SCOPED_TRACE(std::to_string(variant.bit_depth) + (variant.interlaced ? " bit, interlaced" : " bit"));
    Workspace w;
    for (const char* name : kAssets) {
      const Image image = load_png(w.asset(name));
      test::PngPicture p;
      p.width = image.width;
      p.height = image.height;
      bool eight_bit = true;
      for (float v : image.data) eight_bit = eight_bit && float(double(std::lround(v * 255.0f)) / 255.0) == v;
      p.bit_depth = eight_bit ? variant.bit_depth : 16;
      p.interlaced = variant.interlaced;
      p.color_type = image.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
      const unsigned scale = p.bit_depth == 16 ? 257u : 1u;
      for (std::size_t i = 0; i < image.plane_size(); ++i)
        for (int c = 0; c < image.channels; ++c)
          p.samples.push_back(eight_bit ? unsigned(std::lround(image.plane(c)[i] * 255.0f)) * scale
                                        : unsigned(std::lround(double(image.plane(c)[i]) * 65535.0)));
      write_file(w.asset(name), test::encode_png(p));
    }
    const RunResult r = w.run();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(test::read_file(w.output()) == expected) << "the picture changed";
  }
}

// Chunks other than IHDR, PLTE, tRNS, IDAT and IEND are skipped unread; the
// transparency chunk must still make an alpha channel, a gamma chunk must not
// change a value, and a text chunk claiming 2 GB must fail as truncation.
TEST(AssetLoading, TransparencyCountsWhileOtherChunksAreSkipped) {
  TempDir dir;
  test::PngPicture p;
  p.width = 2;
  p.height = 1;
  p.samples = {10, 20, 30, 128, 255, 0};
  p.has_colour_key = true;
  p.colour_key.red = 10;
  p.colour_key.green = 20;
  p.colour_key.blue = 30;
  std::vector<Chunk> chunks = test::read_chunks(test::encode_png(p));
  chunks.insert(chunks.begin() + 1, Chunk{"gAMA", test::u32_bytes(100000 / 4), 0});
  chunks.insert(chunks.begin() + 1, Chunk{"tEXt", std::string("Title\0keyed", 11), 0});
  write_file(dir.path() / "keyed.png", test::write_chunks(chunks));

  const Image image = load_png(dir.path() / "keyed.png");
  ASSERT_EQ(image.channels, 4);
  EXPECT_EQ(image.at(3, 0, 0), 0.0f);  // the keyed colour is transparent
  EXPECT_EQ(image.at(3, 1, 0), 1.0f);
  EXPECT_EQ(image.at(0, 1, 0), float(128.0 / 255.0));  // no gamma conversion
  EXPECT_EQ(image.at(1, 1, 0), 1.0f);

  // The chunk after the image data claims 1.8 GB but the file ends at once.
  std::vector<Chunk> bloated = test::read_chunks(test::encode_png(p));
  std::string claim = test::write_chunks({bloated.begin(), bloated.end() - 1});
  claim += test::u32_bytes(1866876531u) + "tEXt" + std::string(8, '\0');
  write_file(dir.path() / "bloated.png", claim);
  try {
    load_png(dir.path() / "bloated.png");
    ADD_FAILURE() << "a truncated chunk loaded";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot decode PNG: " + (dir.path() / "bloated.png").string());
  }
}

// Nothing can be created in the folder, and there is no picture to write
// over. (With a writable picture the run succeeds: see output_target_test.)
TEST(OutputFailure, FolderNotWritable) {
  Workspace w;
  fs::remove(w.output());
  std::string prefix;
  if (!unprivileged_prefix(w, &prefix)) GTEST_SKIP() << "running as root and cannot drop capabilities";
  ASSERT_EQ(::chmod(w.dir.path().c_str(), 0555), 0);
  const RunResult r = w.run(prefix);
  ::chmod(w.dir.path().c_str(), 0755);
  EXPECT_EQ(r.out, "E: Cannot open output PNG: ./01_LumenDrift.png\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(w.output()));
  EXPECT_EQ(leftover_temporaries(w.dir.path()), std::vector<std::string>{});
}

TEST(OutputFailure, NameTakenByAFolder) {
  Workspace w;
  fs::remove(w.output());
  fs::create_directory(w.output());
  write_file(w.output() / "keep", "inside");
  const RunResult r = w.run();
  EXPECT_EQ(r.out, "E: Cannot open output PNG: ./01_LumenDrift.png\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(fs::is_directory(w.output()));
  EXPECT_EQ(test::read_file(w.output() / "keep"), "inside");
  EXPECT_EQ(leftover_temporaries(w.dir.path()), std::vector<std::string>{});
}

// A full disk, simulated by a file-size limit of half the picture. With
// SIGXFSZ ignored by the caller the write simply fails; with its default
// action the program must ignore it itself rather than die mid-write.
TEST(OutputFailure, FullDiskKeepsTheOlderPicture) {
  Workspace reference;
  fs::remove(reference.output());
  ASSERT_EQ(reference.run().exit_code, 0);
  const auto size = fs::file_size(reference.output());
  ASSERT_GT(size, 120u);
  const std::string limit = "prlimit --fsize=" + std::to_string(size / 2) + " ";
  for (const std::string& prefix : {"trap '' XFSZ; " + limit, limit}) {
    SCOPED_TRACE(prefix);
    Workspace w;
    expect_clean_failure(w, w.run(prefix), "E: Cannot write output PNG: ./01_LumenDrift.png");
  }
}

// A render of this size would run for hours; refused up front it ends long
// before the CPU-time limit of a few seconds could stop it.
const std::string kFewCpuSeconds = "ulimit -t 5; ";

TEST(MemoryLimit, SizeWhoseBufferCannotExistIsRefusedAtOnce) {
  Workspace w;
  const RunResult r = w.run(kFewCpuSeconds, " -w 23170 -h 23170 -a 8");
  expect_clean_failure_starting(w, r, "E: ");
}

// 12000 x 12000 x 12 floats fit the element count but need about 7 GB for the
// scene buffer alone and several times that in all; the run must be refused
// before it starts rendering. The address-space limit makes sure a missing
// check fails fast here rather than exhausting the machine.
TEST(MemoryLimit, RequestBeyondMemoryIsRefusedUpFront) {
  if (built_with_sanitizer()) GTEST_SKIP() << "an address-space limit cannot hold a sanitizer runtime";
  Workspace w;
  const RunResult r = w.run(kFewCpuSeconds + "prlimit --as=2147483648 ", " -w 6000 -h 6000 -a 2");
  expect_clean_failure_starting(w, r, "E: not enough memory: ");
}

}  // namespace
}  // namespace neonvale
