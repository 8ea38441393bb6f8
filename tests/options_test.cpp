#include "app/options.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace neonvale {
namespace {

Config parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"neonvale"};
  argv.insert(argv.end(), args);
  return parse_command_line(int(argv.size()), argv.data());
}

// The message of the exception of type E that parsing throws.
template <class E>
std::string failure(std::initializer_list<const char*> args) {
  try {
    parse(args);
  } catch (const E& e) {
    return e.what();
  } catch (...) {
    return "wrong exception type";
  }
  return "no exception";
}

TEST(Options, NoArgumentsGiveTheDefaults) {
  const Config c = parse({});
  EXPECT_EQ(c.width, 3840);
  EXPECT_EQ(c.height, 2160);
  EXPECT_EQ(c.aa_scale, 2);
  EXPECT_EQ(c.seed, 147994);
  EXPECT_EQ(c.render_id, 1);
}

TEST(Options, EachFlagSetsItsField) {
  const Config c = parse({"-r", "7", "-s", "-5", "-a", "4", "-h", "100", "-w", "200"});
  EXPECT_EQ(c.width, 200);
  EXPECT_EQ(c.height, 100);
  EXPECT_EQ(c.aa_scale, 4);
  EXPECT_EQ(c.seed, -5);
  EXPECT_EQ(c.render_id, 7);
}

TEST(Options, LastValueWins) { EXPECT_EQ(parse({"-w", "800", "-w", "1024"}).width, 1024); }

TEST(Options, ValuesConvertLikeStoi) {
  EXPECT_EQ(parse({"-w", "800px"}).width, 800);
  EXPECT_EQ(parse({"-w", "+800"}).width, 800);
  EXPECT_EQ(parse({"-w", "3.5"}).width, 3);
  EXPECT_EQ(parse({"-w", "-64"}).width, -64);
  EXPECT_EQ(parse({"-w", " \t\n42"}).width, 42);
  EXPECT_EQ(parse({"-w", "0009"}).width, 9);
  EXPECT_EQ(parse({"-s", "-2147483648"}).seed, -2147483647 - 1);
  EXPECT_EQ(parse({"-s", "2147483647"}).seed, 2147483647);
}

TEST(Options, RejectsValuesWithoutDigits) {
  for (const char* text : {"", "abc", "+", "-", "- 5", "+-5", " ", "x12"})
    EXPECT_EQ(failure<std::invalid_argument>({"-w", text}), "invalid stoi argument") << '"' << text << '"';
}

TEST(Options, RejectsValuesOutsideInt32) {
  for (const char* text : {"2147483648", "-2147483649", "99999999999999999999999", "4294967296x"})
    EXPECT_EQ(failure<std::out_of_range>({"-s", text}), "stoi argument out of range") << text;
}

TEST(Options, RejectsOddArgumentCount) {
  EXPECT_EQ(failure<std::invalid_argument>({"-w"}), "invalid CLI argument count");
  EXPECT_EQ(failure<std::invalid_argument>({"-x", "1", "-q"}), "invalid CLI argument count");
}

TEST(Options, RejectsUnknownFlagsAsTyped) {
  EXPECT_EQ(failure<std::invalid_argument>({"-x", "5"}), "invalid option: -x");
  EXPECT_EQ(failure<std::invalid_argument>({"-W", "5"}), "invalid option: -W");
  EXPECT_EQ(failure<std::invalid_argument>({"--w", "5"}), "invalid option: --w");
  EXPECT_EQ(failure<std::invalid_argument>({"-w=5", "5"}), "invalid option: -w=5");
  EXPECT_EQ(failure<std::invalid_argument>({"-w", "64", "-", "5"}), "invalid option: -");
}

TEST(Options, ConvertsTheValueBeforeLookingAtTheFlag) {
  EXPECT_EQ(failure<std::invalid_argument>({"-x", "abc"}), "invalid stoi argument");
  EXPECT_EQ(failure<std::out_of_range>({"-x", "3000000000"}), "stoi argument out of range");
}

TEST(Options, PathsAreTakenAsTypedAndNeverConverted) {
  const Config c = parse({"-o", "12", "-d", " ./my assets", "-t", "3"});
  EXPECT_EQ(c.output, "12");
  EXPECT_EQ(c.asset_folder, " ./my assets");
  EXPECT_EQ(c.threads, 3);
  EXPECT_EQ(parse({"-o", "a.png", "-o", "-w"}).output, "-w");  // a path may look like a flag
  EXPECT_EQ(parse({}).output, "");
  EXPECT_EQ(parse({}).threads, 0);
  // An empty path is refused rather than taken for the default.
  EXPECT_EQ(failure<std::invalid_argument>({"-o", ""}), "empty path: -o");
  EXPECT_EQ(failure<std::invalid_argument>({"-d", ""}), "empty path: -d");
  EXPECT_EQ(failure<std::invalid_argument>({"-t", "many"}), "invalid stoi argument");
}

TEST(Options, UsageTextBytes) {
  const std::string expected =
      "neonvale [option value]\n"
      "\n"
      "Available options:\n"
      "\t-w\tWidth in pixels (default: 3840)\n"
      "\t-h\tHeight in pixels (default: 2160)\n"
      "\t-a\tAA scale (both dimensions; setting '2' here -> 4 samples / pixel)  (default: 2)\n"
      "\t-s\tRandom seed (default: 147994)\n"
      "\t-r\tRendered image id (default: 1)\n"
      "\t-o\tOutput PNG file (default: ./01_LumenDrift.png)\n"
      "\t-t\tThreads, 0 for one per processor (default: 0)\n"
      "\t-d\tAsset folder (default: ./assets/01_neonvale, else the installed one)\n"
      "\n"
      "Available renders:\n"
      "\t1\tLumen Drift - Somewhere, the rain never stops.\n";
  EXPECT_EQ(usage_text(), expected);
  EXPECT_EQ(help_text(),
            "neonvale renders the illustration \"Lumen Drift\" and writes it as an 8-bit PNG file.\n\n" + expected);
}

TEST(Options, VersionIsThreeNumbers) {
  const std::string line = version_line();
  ASSERT_EQ(line.compare(0, 9, "neonvale "), 0) << line;
  int dots = 0;
  for (std::size_t i = 9; i < line.size(); ++i) {
    dots += line[i] == '.';
    EXPECT_TRUE(line[i] == '.' || (line[i] >= '0' && line[i] <= '9')) << line;
  }
  EXPECT_EQ(dots, 2) << line;
}

}  // namespace
}  // namespace neonvale
