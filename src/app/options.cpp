#include "app/options.hpp"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

#include "app/catalogue.hpp"

namespace neonvale {

const std::vector<Option> options = {
    {"-w", "Width in pixels", [](Config& c) -> int& { return c.width; }},
    {"-h", "Height in pixels", [](Config& c) -> int& { return c.height; }},
    {"-a", "AA scale (both dimensions; setting '2' here -> 4 samples / pixel) ",
     [](Config& c) -> int& { return c.aa_scale; }},
    {"-s", "Random seed", [](Config& c) -> int& { return c.seed; }},
    {"-r", "Rendered image id", [](Config& c) -> int& { return c.render_id; }},
    {"-o", "Output PNG file", nullptr, [](Config& c) -> std::string& { return c.output; }, "./01_LumenDrift.png"},
    {"-t", "Threads, 0 for one per processor", [](Config& c) -> int& { return c.threads; }},
    {"-d", "Asset folder", nullptr, [](Config& c) -> std::string& { return c.asset_folder; },
     "./assets/01_neonvale, else the installed one"},
};

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Base-10 conversion with the rules of std::stoi: leading white space, an
// optional sign, digits up to the first non-digit; the rest is ignored.
int to_int(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t first_digit = i;
  long long value = 0;
  bool too_big = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (!too_big) value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) too_big = true;
  }
  if (i == first_digit) throw std::invalid_argument("invalid stoi argument");
  if (negative) value = -value;
  if (too_big || value > 2147483647LL || value < -2147483648LL)
    throw std::out_of_range("stoi argument out of range");
  return int(value);
}

// printf into a string of whatever length the text needs.
std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text(length > 0 ? std::size_t(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, pattern, again);
  va_end(again);
  return text;
}

const Option* find_option(const std::string& flag) {
  for (const Option& option : options)
    if (option.flag == flag) return &option;
  return nullptr;
}

}  // namespace

Config parse_command_line(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  if (args.size() % 2 != 0) throw std::invalid_argument("invalid CLI argument count");
  Config config;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const Option* match = find_option(args[i]);
    if (match && match->text) {
      // An empty path is a script's empty variable, not a wish for the default.
      if (args[i + 1].empty()) throw std::invalid_argument("empty path: " + args[i]);
      match->text(config) = args[i + 1];
      continue;
    }
    const int value = to_int(args[i + 1]);  // converted before an unknown flag is reported
    if (!match) throw std::invalid_argument("invalid option: " + args[i]);
    match->accessor(config) = value;
  }
  return config;
}

bool parse_or_print_usage(int argc, const char* const* argv, Config& config) {
  try {
    config = parse_command_line(argc, argv);
    return true;
  } catch (const std::exception& e) {
    std::printf("E: %s\n", e.what());
    print_usage();
    return false;
  }
}

std::string usage_text() {
  std::string text = "neonvale [option value]\n\nAvailable options:\n";
  for (const Option& option : options) {
    Config defaults;  // the defaults are listed, never the values parsed so far
    if (option.text)
      text += format("\t%s\t%s (default: %s)\n", option.flag.c_str(), option.description.c_str(),
                     option.text_default.c_str());
    else
      text += format("\t%s\t%s (default: %d)\n", option.flag.c_str(), option.description.c_str(),
                     option.accessor(defaults));
  }
  text += "\nAvailable renders:\n";
  for (std::size_t i = 0; i < render_catalogue.size(); ++i)
    text += format("\t%d\t%s - %s\n", int(i + 1), render_catalogue[i].title.c_str(),
                   render_catalogue[i].tagline.c_str());
  return text;
}

void print_usage() { std::fputs(usage_text().c_str(), stdout); }

std::string help_text() {
  return "neonvale renders the illustration \"Lumen Drift\" and writes it as an 8-bit PNG file.\n\n" +
         usage_text();
}

std::string version_line() { return std::string("neonvale ") + NEONVALE_VERSION; }

bool answer_help_or_version(int argc, const char* const* argv) {
  if (argc != 2) return false;
  const std::string argument = argv[1];
  if (argument == "--help") {
    std::fputs(help_text().c_str(), stdout);
    return true;
  }
  if (argument == "--version") {
    std::printf("%s\n", version_line().c_str());
    return true;
  }
  return false;
}

}  // namespace neonvale
