#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane::localservices {

struct LocalServiceCommandResult {
    // Standard output as UTF-8 text; ill-formed bytes read as U+FFFD.
    std::string output;
    // The exit status; 128 + the signal number when a signal ended the program, so that a
    // crashed tool never passes for one that found nothing.
    std::int32_t status = 0;

    bool operator==(const LocalServiceCommandResult&) const = default;
};

// Runs the inspection tools (lsof, ps) for the local services list.
namespace LocalServiceCommand {

// A user's whole process table with long command lines fits easily; anything beyond is
// dropped at the last complete line so that no half line is ever parsed.
inline constexpr std::size_t maximumOutputBytes = 32 * 1024 * 1024;

// A hung tool (an lsof stuck on a dead network mount) must not keep the list loading
// forever or block every stop.
inline constexpr std::chrono::milliseconds defaultTimeLimit{5000};

// Runs the program to its end, standard error discarded. Throws LocalServiceMonitorError:
// scanFailed when it cannot be started, toolTimedOut when it outlives `limit` (it is then
// killed).
LocalServiceCommandResult run(const std::string& executable,
                              const std::vector<std::string>& arguments,
                              std::size_t maxOutputBytes = maximumOutputBytes,
                              std::chrono::milliseconds limit = defaultTimeLimit);

}  // namespace LocalServiceCommand

}  // namespace kestrane::localservices
