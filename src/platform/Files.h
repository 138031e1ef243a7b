#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrane::platform {

// Reads a whole regular file written by another tool. nullopt when it is missing, not a
// regular file, unreadable, or larger than `maxBytes` (never reads past the cap).
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace kestrane::platform
