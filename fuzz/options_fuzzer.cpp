// Fuzzes the command-line parser and the settings check. The input is split
// at NUL bytes into argument strings (argv can hold no NUL). The parser's
// result is compared with a reference built on std::stoi, whose behaviour the
// value conversion promises to match, and every failure must be one of the
// documented exceptions with its documented message.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/catalogue.hpp"
#include "app/options.hpp"

namespace {

using neonvale::Config;

struct Outcome {
  bool ok = false;
  std::string error;  // "invalid_argument: message" or "out_of_range: message"
  Config config;
};

// The parser as documented, with std::stoi doing the conversion.
Outcome reference_parse(const std::vector<std::string>& args) {
  Outcome r;
  if (args.size() % 2 != 0) {
    r.error = "invalid_argument: invalid CLI argument count";
    return r;
  }
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    if (flag == "-o" || flag == "-d") {
      if (args[i + 1].empty()) {
        r.error = "invalid_argument: empty path: " + flag;
        return r;
      }
      (flag == "-o" ? r.config.output : r.config.asset_folder) = args[i + 1];
      continue;
    }
    int value = 0;
    try {
      value = std::stoi(args[i + 1]);
    } catch (const std::out_of_range&) {
      r.error = "out_of_range: stoi argument out of range";
      return r;
    } catch (const std::invalid_argument&) {
      r.error = "invalid_argument: invalid stoi argument";
      return r;
    }
    if (flag == "-w") r.config.width = value;
    else if (flag == "-h") r.config.height = value;
    else if (flag == "-a") r.config.aa_scale = value;
    else if (flag == "-s") r.config.seed = value;
    else if (flag == "-r") r.config.render_id = value;
    else if (flag == "-t") r.config.threads = value;
    else {
      r.error = "invalid_argument: invalid option: " + flag;
      return r;
    }
  }
  r.ok = true;
  return r;
}

bool same(const Config& a, const Config& b) {
  return a.width == b.width && a.height == b.height && a.aa_scale == b.aa_scale && a.seed == b.seed &&
         a.render_id == b.render_id && a.threads == b.threads && a.output == b.output &&
         a.asset_folder == b.asset_folder;
}

[[noreturn]] void finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back() += char(data[i]);
  }
  if (size == 0) args.clear();
  if (args.size() > 64) return -1;

  std::vector<const char*> argv = {"neonvale"};
  for (const std::string& a : args) argv.push_back(a.c_str());

  Outcome got;
  try {
    got.config = neonvale::parse_command_line(int(argv.size()), argv.data());
    got.ok = true;
  } catch (const std::invalid_argument& e) {
    got.error = std::string("invalid_argument: ") + e.what();
  } catch (const std::out_of_range& e) {
    got.error = std::string("out_of_range: ") + e.what();
  }
  const Outcome want = reference_parse(args);
  if (got.ok != want.ok || got.error != want.error || (got.ok && !same(got.config, want.config)))
    finding("parser disagrees with the reference", got.error + " / " + want.error);
  if (!got.ok) return 0;

  const Config& c = got.config;
  const bool settings_ok = c.width >= 64 && c.height >= 64 && c.aa_scale > 0 && (c.aa_scale & (c.aa_scale - 1)) == 0;
  const bool id_ok = c.render_id >= 1 && c.render_id <= int(neonvale::render_catalogue.size());
  const bool threads_ok = c.threads >= 0 && c.threads <= neonvale::kMaxThreads;
  const std::string expected_error = !settings_ok ? "Invalid render settings"
                                     : !id_ok     ? "invalid render id"
                                     : !threads_ok ? "invalid thread count"
                                                   : "";
  std::string error;
  try {
    neonvale::check_settings(c);
  } catch (const std::invalid_argument& e) {
    error = e.what();
  }
  if (error != expected_error) finding("settings check", error + " / " + expected_error);
  if (error.empty()) {
    char expected_name[64];
    std::snprintf(expected_name, sizeof expected_name, "./%02d_LumenDrift.png", c.render_id);
    if (neonvale::output_name(c) != expected_name) finding("output name", neonvale::output_name(c));
    if (neonvale::output_path(c) != (c.output.empty() ? std::string(expected_name) : c.output))
      finding("output path", neonvale::output_path(c));
  }
  return 0;
}
