#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/Environment.h"

namespace kestrane::platform {

// Folders where package managers put the commands they install for this user or system, best
// first. A program started by the desktop session often has a short PATH that misses them.
// Only existing folders' names are built; nothing is checked here.
std::vector<std::filesystem::path> packageCommandDirectories(const Environment& environment);

// The npm prefix the user set in ~/.npmrc ("prefix=…", "~/" expanded), if any.
std::optional<std::filesystem::path> npmPrefix(const Environment& environment);

}  // namespace kestrane::platform
