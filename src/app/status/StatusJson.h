#pragma once

#include <optional>

#include "app/status/StatusSnapshot.h"
#include "platform/Json.h"

namespace kestrane::app {

// The forecast, the pace and the track record have the same form in the status file and in
// `kestrane --status --json`; null for nothing.
platform::Json encodeForecast(const std::optional<StatusForecast>& forecast);
platform::Json encodeTrackRecord(const std::optional<StatusTrackRecord>& record);
platform::Json encodePace(const std::optional<StatusPace>& pace);

}  // namespace kestrane::app
