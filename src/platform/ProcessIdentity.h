#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace kestrane::platform {

// A text that tells one process from any later one given the same pid: its start time as
// the system counts it. Nothing when the process does not exist (or the system cannot say).
std::optional<std::string> processStartToken(pid_t pid);

// The user the process runs as (its effective user id, as ps shows it); nothing when the
// process does not exist.
std::optional<uid_t> processOwner(pid_t pid);

// The file this process was started from, links resolved; nothing when the system cannot say.
std::optional<std::filesystem::path> currentExecutable();

}  // namespace kestrane::platform
