#pragma once

#include <optional>
#include <string>

#include "forecast/RhythmForecast.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::forecast {

// The short Russian verdict of a forecast shown in the panel.
struct ForecastInsight {
    enum class Tone { spare, steady, caution, shortage };

    Tone tone = Tone::steady;
    std::string title;
    std::string outcome;
    std::string guidance;
    // "Возможный остаток: 4-38%", absent when the range would be empty.
    std::optional<std::string> range;

    // `remaining` is the window's current remaining percent, the one the forecast used.
    static ForecastInsight make(const RhythmForecast& forecast, double remaining,
                                platform::Date now, const platform::Calendar& calendar);

    bool operator==(const ForecastInsight&) const = default;
};

}  // namespace kestrane::forecast
