#pragma once

#include <filesystem>
#include <optional>

#include "app/status/StatusSnapshot.h"
#include "platform/Environment.h"

namespace kestrane::app {

// Where the running application leaves its state for `kestrane --status`
// ($XDG_RUNTIME_DIR/kestrane/status.json), and how it is read back without starting
// anything or asking any server.
namespace StatusFile {

// Without $XDG_RUNTIME_DIR (an absolute path) there is no place for it.
std::optional<std::filesystem::path> location(const platform::Environment& environment);

// The snapshot in the file, whoever wrote it; nothing when it is missing or malformed.
std::optional<StatusSnapshot> read(const std::filesystem::path& path);

// The snapshot of a running instance: nothing when there is no file, it cannot be read, or
// the process that wrote it is gone (its pid now another process's or nobody's).
std::optional<StatusSnapshot> readLive(const std::filesystem::path& path);

}  // namespace StatusFile

}  // namespace kestrane::app
