#include "core/base/bundles.h"

#include <glib.h>

#include <string>

namespace fs = std::filesystem;

namespace dorvik {

std::optional<fs::path> bundleResources(std::string_view bundle, const char* overrideVariable) {
  std::error_code ec;
  fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    fs::path beside = executable.parent_path() / bundle / "Resources";
    if (fs::is_directory(beside, ec)) return beside;
  }
  if (overrideVariable) {
    if (const char* folder = g_getenv(overrideVariable); folder && *folder && fs::is_directory(folder, ec)) {
      return fs::path(folder);
    }
  }
#ifdef DORVIK_APP_DIR
  fs::path built = fs::path(DORVIK_APP_DIR) / bundle / "Resources";
  if (fs::is_directory(built, ec)) return built;
#endif
  return std::nullopt;
}

}  // namespace dorvik
