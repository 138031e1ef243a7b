#pragma once

#include <optional>

#include "platform/Date.h"

namespace kestrane::forecast {

// The quota expected to be left at the reset, from simulated futures of the learned rhythm.
struct QuotaForecast {
    // Remaining percent at the reset: median scenario, 90th-percentile demand (pessimistic),
    // 10th-percentile demand (optimistic); never below 0.
    double medianRemaining = 0;
    double lowerRemaining = 0;
    double upperRemaining = 0;
    // Share of scenarios that run out before the reset.
    double exhaustionFraction = 0;
    // Past days used for training.
    int historyDays = 0;
    // Some future day gave days of its weekday extra weight.
    bool usesWeekdayPattern = false;
    // Percentage points consumed until the reset: median, 10th and 90th percentile.
    double medianDemand = 0;
    double lowerDemand = 0;
    double upperDemand = 0;
    // The median moment of running out, only when more than half of the scenarios run out.
    std::optional<platform::Date> medianExhaustionDate;
    // Start of the current day; training uses only days before it.
    platform::Date historyUpdatedAt;
    // For the least-covered clock hour before the reset, how many training days observed it.
    int minimumHourObservations = 0;

    bool operator==(const QuotaForecast&) const = default;
};

}  // namespace kestrane::forecast
