#pragma once

#include <functional>
#include <vector>

#include "localservices/LocalService.h"
#include "localservices/LocalServiceScan.h"
#include "localservices/LocalServicesViewState.h"

namespace kestrane::app {

using localservices::LocalService;
using localservices::LocalServiceScan;
using localservices::LocalServicesViewState;

// The blocking services operations, run by the coordinator on worker threads. Failures are
// exceptions whose what() is the Russian message for the user.
struct LocalServicesBackend {
    // The rows and, when no row can be stopped, why.
    std::function<LocalServiceScan()> scan;
    // Re-verifies the process and sends SIGTERM; throws when it refuses or fails.
    std::function<void(const LocalService&)> stop;
    // Lets a signalled process exit before the rescan.
    std::function<void(double seconds)> pause;
};

}  // namespace kestrane::app
