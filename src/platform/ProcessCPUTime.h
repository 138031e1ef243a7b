#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

namespace kestrane::platform {

// CPU time a process has used so far (user and system, all its threads), in seconds. Two
// readings a moment apart give its share of a CPU now, where ps on Linux prints the average
// over the whole life of the process. Nothing when the process is gone or the system keeps
// no such count; callers then keep what ps said.
std::optional<double> processCPUSeconds(pid_t pid);

// utime + stime of a /proc/<pid>/stat line, in clock ticks. The command name in parentheses
// may hold spaces and parentheses itself, so fields are counted from the last ")".
std::optional<unsigned long long> cpuTicksOfProcStat(std::string_view stat);

}  // namespace kestrane::platform
