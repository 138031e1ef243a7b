#pragma once

#include <filesystem>

#include "platform/Environment.h"

namespace kestrane::platform {

// The per-user folder where desktop applications keep their settings and state, and where
// we look for other tools' files: $XDG_CONFIG_HOME (when absolute) or ~/.config on Linux.
std::filesystem::path configurationDirectory(const Environment& environment);

}  // namespace kestrane::platform
