#pragma once
// Where a run reads its assets: the folder named on the command line, else
// "./assets/01_neonvale" where that exists (a checkout, or a folder a user
// made), else the copy installed beside the program, found from the running
// executable (<prefix>/bin/neonvale reads <prefix>/share/neonvale/assets/
// 01_neonvale), so that any install prefix works, a package unpacked
// anywhere included.
#include <filesystem>
#include <string>

namespace neonvale {

struct AssetLocation {
  std::filesystem::path folder;     // the folder to read
  std::filesystem::path installed;  // the installed copy looked for; empty when not looked for
  bool found = true;                // false: neither folder exists, `folder` is the local one
};

// `named` is the -d value (empty when not given); `executable` the running
// program's path (empty when unknown).
AssetLocation locate_assets(const std::string& named, const std::filesystem::path& executable);

// The installed asset folder of a program at `executable`.
std::filesystem::path installed_asset_folder(const std::filesystem::path& executable);

// The path of the running program, links resolved; empty when the system
// does not tell.
std::filesystem::path running_executable();

// The hint for a person at a terminal when no assets were found.
std::string missing_assets_hint(const AssetLocation& location);

}  // namespace neonvale
