#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// Reads a whole regular file written by another tool. nullopt when it is missing, not a
// regular file, unreadable, or larger than `maxBytes` (never reads past the cap).
std::optional<std::string> readFile(const std::filesystem::path& path, std::size_t maxBytes);

// The first `maxBytes` (or fewer) of a regular file; nullopt when it cannot be read. Never
// blocks on a FIFO or a device.
std::optional<std::string> readFilePrefix(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces `path` with `data` so that a reader, or a crash at any moment, sees either the
// old file or the complete new one: a temporary file in the same folder, written and synced,
// given `permissions`, then renamed over the target. Returns an errno-style code (0 on
// success); the temporary file is removed on failure.
int writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                        std::filesystem::perms permissions);

// Removes the temporary files writeFileAtomically leaves for `path` when the process is killed
// in the middle of a write. Only the one writer of `path` may call it: another writer's write
// in progress looks the same. Returns how many were removed.
std::size_t removeAtomicWriteLeftovers(const std::filesystem::path& path);

}  // namespace kestrane::platform
