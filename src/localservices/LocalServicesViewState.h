#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "localservices/LocalService.h"
#include "platform/Date.h"

namespace kestrane::localservices {

// What the services screen shows: the last list, whether a scan runs, the last error and
// which rows have a stop in progress.
struct LocalServicesViewState {
    std::vector<LocalService> services;
    bool isLoading = false;
    std::optional<std::string> error;
    // Time of the last successful scan.
    std::optional<platform::Date> updatedAt;
    // LocalService::id() of every row being stopped.
    std::set<std::string> stoppingServiceIDs;

    bool operator==(const LocalServicesViewState&) const = default;
};

}  // namespace kestrane::localservices
