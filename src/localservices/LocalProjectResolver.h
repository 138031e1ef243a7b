#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "localservices/LocalServiceProject.h"

namespace kestrane::localservices {

// Finds the project a working directory belongs to: the nearest folder, the directory itself
// or one of its ancestors, that holds a project marker. The file-system root never counts.
namespace LocalProjectResolver {

// Whether something (file or folder) exists at a path; a path that cannot be tested is missing.
using FileExists = std::function<bool(const std::string& path)>;

// Tested in this order at every level.
inline constexpr std::array<std::string_view, 10> markerFiles{
    ".git",   "Package.swift", "package.json", "pyproject.toml",      "Cargo.toml",
    "go.mod", "compose.yaml",  "compose.yml",  "docker-compose.yaml", "docker-compose.yml",
};

// Asks the real file system.
bool fileExists(const std::string& path);

// Symbolic links are not followed when walking up, so the project path reads like the
// directory the process was started in. Relative paths give nothing.
std::optional<LocalServiceProject> resolve(const std::optional<std::string>& workingDirectory,
                                           const FileExists& exists = fileExists);

}  // namespace LocalProjectResolver

}  // namespace kestrane::localservices
