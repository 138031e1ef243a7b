#include "localservices/LocalServiceStop.h"

#include <algorithm>
#include <exception>

#include "localservices/LocalServiceMonitorError.h"

namespace kestrane::localservices {

LocalServiceStopOutcome stopAndRescan(const LocalServiceOperations& operations,
                                      const LocalService& service) {
    LocalServiceStopOutcome outcome;
    try {
        operations.stop(service);
        operations.pause(stopPause);
        outcome.scan = operations.scan();
        const auto& rows = outcome.scan->services;
        const bool stillListed =
            std::any_of(rows.begin(), rows.end(),
                        [&](const LocalService& row) { return row.pid == service.pid; });
        if (stillListed) outcome.error = std::string(stillRunningMessage);
    } catch (...) {
        outcome.error = describeServicesFailure(std::current_exception());
        if (!outcome.scan) {
            try {
                outcome.scan = operations.scan();
            } catch (...) {
            }
        }
    }
    return outcome;
}

}  // namespace kestrane::localservices
