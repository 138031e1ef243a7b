#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/UsageSeries.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::history {

// Consumption inside one clock hour of the calendar's time zone.
struct RhythmHour {
    platform::Date start;
    // Percentage points consumed inside the hour, summed over every learned piece.
    double usedPercent = 0;
    // Seconds of the hour covered by learned observations.
    double observedSeconds = 0;

    bool operator==(const RhythmHour&) const = default;
};

// The learned hourly consumption of one window, the input of the forecast.
struct RhythmHistory {
    std::string accountDigest;
    std::optional<std::int64_t> durationMinutes;
    // The zone the hours were cut in; the rhythm is only meaningful while it stays the same.
    std::string timeZoneIdentifier;
    // In order of first observation, at most one entry per start.
    std::vector<RhythmHour> hours;

    // Learns the consumption between two consecutive observations, spread evenly over the clock
    // hours the pair covers. With `changed`, adds the index of every hour it changed or added.
    void observe(const UsageSample& from, const UsageSample& to,
                 std::optional<platform::Date> knownReset, const platform::Calendar& calendar,
                 std::vector<std::size_t>* changed = nullptr);

    bool operator==(const RhythmHistory&) const = default;
};

}  // namespace kestrane::history
