#pragma once
// The render settings, the command-line option table and its parser.
#include <functional>
#include <string>
#include <vector>

namespace neonvale {

struct Config {
  int width = 3840;
  int height = 2160;
  int aa_scale = 2;
  int seed = 147994;
  int render_id = 1;
  // 0: as many threads as the process may run on processors (OMP_NUM_THREADS
  // may lower that).
  int threads = 0;
  // Empty: "./<id>_<key>.png" for the render chosen.
  std::string output;
  // Empty: "./assets/01_neonvale" where it exists, else the installed copy.
  std::string asset_folder;
};

// One row of the option table. A number option sets its field through
// `accessor`; a text option (a path) through `text` and shows `text_default`
// as its default in the usage text.
struct Option {
  std::string flag;
  std::string description;
  std::function<int&(Config&)> accessor;
  std::function<std::string&(Config&)> text = {};
  std::string text_default = {};
};

// The option table, in the order the usage text lists and the parser searches.
extern const std::vector<Option> options;

// Parses flag/value pairs after argv[0]. A number's text is converted before
// its flag is looked at, so an unknown flag with a text that is no number
// fails on the number. Throws std::invalid_argument or std::out_of_range with
// the user-facing message; prints nothing.
Config parse_command_line(int argc, const char* const* argv);

// parse_command_line for a program's main: on a parse error prints "E: " and
// the message, then the usage text, and returns false.
bool parse_or_print_usage(int argc, const char* const* argv, Config& config);

// The usage text, exactly as print_usage writes it.
std::string usage_text();
void print_usage();

// What --help prints: a line saying what the program does, then the usage text.
std::string help_text();
// "neonvale X.Y.Z", what --version prints (without the line end).
std::string version_line();
// With "--help" or "--version" as the only argument, prints its text to
// standard output and returns true; otherwise prints nothing and returns false.
bool answer_help_or_version(int argc, const char* const* argv);

}  // namespace neonvale
