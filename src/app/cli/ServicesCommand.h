#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "localservices/LocalService.h"
#include "localservices/LocalServiceScan.h"
#include "localservices/LocalServiceStop.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::app::ServicesCommand {

using localservices::stillRunningMessage;

// What the commands need from the machine: the monitor's scan and stop, a pause, and for
// texts the clock, the zone and the home folder (shown as "~").
struct System {
    std::function<localservices::LocalServiceScan()> scan;
    std::function<void(const localservices::LocalService&)> stop;
    std::function<void(double seconds)> pause;
    // The user a process with this pid runs as; nothing when there is no such process.
    std::function<std::optional<std::uint32_t>(std::int32_t pid)> owner;
    std::uint32_t userID = 0;
    std::int32_t ownPID = 0;
    platform::Date now;
    platform::Calendar calendar;
    std::filesystem::path home;
};

// The list as the services screen shows it; 0, or 1 when the scan failed.
int list(const System& system, bool json, std::ostream& out);

// Stops one listed service after the panel's re-check; 0 once SIGTERM was sent and the
// process left the list, else 1 with the reason: the panel's message, or for a pid the panel
// never offers (pid 1, another user's process, one not in the list, none at all) why not.
int stop(const System& system, std::int32_t pid, std::ostream& out);

// The real monitor over lsof and ps.
System currentSystem();

}  // namespace kestrane::app::ServicesCommand
