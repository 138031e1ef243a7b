#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "localservices/LocalService.h"
#include "localservices/LocalServiceScan.h"

namespace kestrane::localservices {

// After a stop and the rescan a moment later the process is still listed.
inline constexpr std::string_view stillRunningMessage =
    "SIGTERM отправлен, но процесс пока продолжает работать.";
// How long a signalled process gets to exit before the rescan.
inline constexpr double stopPause = 0.6;

// The blocking operations a stop needs; failures are exceptions whose what() is the Russian
// message for the user.
struct LocalServiceOperations {
    // The rows and, when no row can be stopped, why.
    std::function<LocalServiceScan()> scan;
    // Re-verifies the process and sends SIGTERM; throws when it refuses or fails.
    std::function<void(const LocalService&)> stop;
    // Lets a signalled process exit before the rescan.
    std::function<void(double seconds)> pause;
};

struct LocalServiceStopOutcome {
    // The list after the stop; none when even the rescan failed.
    std::optional<LocalServiceScan> scan;
    // Why the service is not gone: the refusal, the failure, or that it still runs.
    std::optional<std::string> error;
};

// Stops one service, waits, and scans again, as the panel and the command line both do.
// Blocking; never throws. After a refusal the list is still rescanned (the first message is
// the one the user needs, so a failing rescan adds nothing to it).
LocalServiceStopOutcome stopAndRescan(const LocalServiceOperations& operations,
                                      const LocalService& service);

}  // namespace kestrane::localservices
