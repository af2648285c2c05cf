// Where the resource bundles of the program are found: "<bundle>/Resources" beside the running executable first,
// then the folder an environment variable names (when given), then the build tree's own bundle (for tests and
// tools run from the build folder).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace dorvik {

inline constexpr std::string_view kCoreBundle = "Dorvik_DorvikCore.bundle";
inline constexpr std::string_view kAppBundle = "Dorvik_DorvikApp.bundle";

// The bundle's "Resources" folder; none when no candidate exists.
std::optional<std::filesystem::path> bundleResources(std::string_view bundle, const char* overrideVariable = nullptr);

}  // namespace dorvik
