#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Date.h"

namespace kestrane::localservices {

// One process as the process table reports it.
struct LocalProcessMetadata {
    std::int32_t pid = 0;
    std::uint32_t uid = 0;
    std::optional<double> cpuPercent;
    std::optional<std::uint64_t> memoryBytes;
    std::optional<platform::Date> startedAt;
    // The start time exactly as printed (fields joined by single spaces). Together with the
    // pid it tells a process apart from a later one that got the same pid.
    std::string startToken;
    std::string command;

    bool operator==(const LocalProcessMetadata&) const = default;
};

}  // namespace kestrane::localservices
