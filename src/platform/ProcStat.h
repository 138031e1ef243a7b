#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// The /proc/<pid>/stat line of a process (at most 1 KiB); nothing when it is gone.
std::optional<std::string> readProcStat(pid_t pid);

// Field `number` of such a line, counted as proc(5) counts them (3 is the state). The command
// name in parentheses may hold spaces and parentheses itself, so fields are counted from the
// last ")". Nothing for the name's own fields or past the end.
std::optional<std::string_view> procStatField(std::string_view stat, int number);

}  // namespace kestrane::platform
