#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Date.h"

namespace kestrane::app {

// One local development process as the services screen lists it.
struct LocalService {
    std::int32_t pid = 0;
    std::string name;
    std::vector<int> ports;
    std::optional<std::string> startToken;

    // The pid and the start time (or the name when the start time is unknown).
    std::string id() const { return std::to_string(pid) + ":" + startToken.value_or(name); }
    bool operator==(const LocalService&) const = default;
};

// What the services screen shows.
struct LocalServicesViewState {
    std::vector<LocalService> services;
    bool isLoading = false;
    std::optional<std::string> error;
    std::optional<platform::Date> updatedAt;
    std::set<std::string> stoppingServiceIDs;
    bool operator==(const LocalServicesViewState&) const = default;
};

// The blocking services operations, run by the coordinator on worker threads. Failures are
// exceptions whose what() is the Russian message for the user.
struct LocalServicesBackend {
    std::function<std::vector<LocalService>()> scan;
    // Re-verifies the process and sends SIGTERM; throws when it refuses or fails.
    std::function<void(const LocalService&)> stop;
    // Lets a signalled process exit before the rescan.
    std::function<void(double seconds)> pause;
};

}  // namespace kestrane::app
