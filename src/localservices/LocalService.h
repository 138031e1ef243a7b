#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "localservices/LocalServiceProject.h"
#include "platform/Date.h"

namespace kestrane::localservices {

// One row of the local services list: a process of this user that listens on TCP ports or
// works hard inside a project folder.
struct LocalService {
    std::int32_t pid = 0;
    std::uint32_t ownerUID = 0;
    // Short display name (the program's file name).
    std::string name;
    // Command line with secrets masked, at most 240 characters.
    std::string command;
    // Listening TCP ports, ascending, without duplicates.
    std::vector<int> ports;
    std::optional<double> cpuPercent;
    std::optional<std::uint64_t> memoryBytes;
    std::optional<platform::Date> startedAt;
    std::optional<std::string> workingDirectory;
    std::optional<LocalServiceProject> project;
    std::optional<std::string> startToken;

    // "pid:startToken", or "pid:name" when the start time is unknown.
    std::string id() const { return std::to_string(pid) + ":" + (startToken ? *startToken : name); }

    bool operator==(const LocalService&) const = default;
};

}  // namespace kestrane::localservices
