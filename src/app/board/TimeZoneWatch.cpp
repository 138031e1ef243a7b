#include "app/board/TimeZoneWatch.h"

#include <utility>

namespace kestrane::app {

TimeZoneWatch::TimeZoneWatch(platform::Calendar calendar, ZoneSource currentZone)
    : calendar_(std::move(calendar)), currentZone_(std::move(currentZone)) {}

std::optional<platform::Calendar> TimeZoneWatch::check() {
    if (!currentZone_) return std::nullopt;
    const std::string zone = currentZone_();
    if (zone.empty() || zone == calendar_.timeZoneIdentifier()) return std::nullopt;
    calendar_ = platform::Calendar(zone);
    return calendar_;
}

}  // namespace kestrane::app
