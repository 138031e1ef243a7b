#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Calendar.h"

namespace kestrane::app {

// Notices that the system's time zone changed (a trip, a manual change), so the history
// learns hours and the forecast reads them in the zone the user now lives in. Asked at
// every refresh; reading the zone identifier is cheap, building a calendar is done only when
// it changed.
class TimeZoneWatch {
  public:
    // Reads the system's current zone identifier.
    using ZoneSource = std::function<std::string()>;

    TimeZoneWatch(platform::Calendar calendar, ZoneSource currentZone);

    // The calendar of the system's zone when it differs from the one last seen; nothing when
    // it is the same (or the source names nothing).
    std::optional<platform::Calendar> check();
    const platform::Calendar& calendar() const { return calendar_; }

  private:
    platform::Calendar calendar_;
    ZoneSource currentZone_;
};

}  // namespace kestrane::app
