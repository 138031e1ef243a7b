#pragma once

#include <optional>
#include <string>
#include <utility>

#include "forecast/QuotaForecast.h"
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
    static ForecastInsight make(const QuotaForecast& forecast, double remaining, platform::Date now,
                                const platform::Calendar& calendar);

    // The whole percents of the range line: the lower remainder rounded down, the upper one
    // rounded up. The line is shown when the first is below the second and the second is 1 or
    // more.
    static std::pair<long long, long long> rangeBounds(const QuotaForecast& forecast);
    // The verdict warns that the limit may run out before the reset (Tone::shortage).
    static bool warnsOfShortage(const QuotaForecast& forecast) {
        return forecast.medianExhaustionDate.has_value();
    }

    bool operator==(const ForecastInsight&) const = default;
};

}  // namespace kestrane::forecast
