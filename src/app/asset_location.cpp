#include "app/asset_location.hpp"

#include <system_error>

#include "scene/scene.hpp"

namespace neonvale {

namespace {

// Only a name that certainly leads nowhere counts as missing: a folder that
// cannot be looked into is still the one to read, and reports its own error.
bool missing(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
}

}  // namespace

std::filesystem::path installed_asset_folder(const std::filesystem::path& executable) {
  // From the installed program's folder to the installed assets, as the
  // build's install layout places them.
  return (executable.parent_path() / NEONVALE_INSTALLED_ASSETS / "01_neonvale").lexically_normal();
}

std::filesystem::path running_executable() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

AssetLocation locate_assets(const std::string& named, const std::filesystem::path& executable) {
  AssetLocation location;
  if (!named.empty()) {
    location.folder = named;
    return location;
  }
  location.folder = asset_folder();
  if (!missing(location.folder)) return location;
  if (!executable.empty()) {
    location.installed = installed_asset_folder(executable);
    std::error_code error;
    if (std::filesystem::is_directory(location.installed, error)) {
      location.folder = location.installed;
      return location;
    }
  }
  location.found = false;
  return location;
}

std::string missing_assets_hint(const AssetLocation& location) {
  std::string hint = "neonvale: no assets in " + location.folder.string();
  if (!location.installed.empty()) hint += " nor in " + location.installed.string();
  return hint + "; -d names the folder that holds robo.png and the other assets\n";
}

}  // namespace neonvale
