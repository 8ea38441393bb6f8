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
};

struct Option {
  std::string flag;
  std::string description;
  std::function<int&(Config&)> accessor;
};

// The option table, in the order the usage text lists and the parser searches.
extern const std::vector<Option> options;

// Parses flag/value pairs after argv[0]. Throws std::invalid_argument or
// std::out_of_range with the user-facing message; prints nothing.
Config parse_command_line(int argc, const char* const* argv);

// parse_command_line for a program's main: on a parse error prints "E: " and
// the message, then the usage text, and returns false.
bool parse_or_print_usage(int argc, const char* const* argv, Config& config);

// The usage text, exactly as print_usage writes it.
std::string usage_text();
void print_usage();

}  // namespace neonvale
