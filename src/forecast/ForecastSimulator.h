#pragma once

#include <optional>
#include <vector>

#include "forecast/QuotaForecast.h"
#include "history/RhythmHistory.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::forecast::ForecastSimulator {

inline constexpr int defaultScenarioCount = 512;

// Simulates `scenarioCount` futures from now to the reset, each built hour by hour from
// analogue past days of the rhythm (favouring the same weekday, recent weeks and, for today,
// days whose morning looked like today's), blended with the recent rate (percentage points
// per hour) in the first half hour. Absent when the rhythm cannot support a forecast: no or
// foreign-zone rhythm, reset missing, past or over 32 days away, too few observed days.
// Deterministic: the same inputs on the same day give the same numbers.
std::optional<QuotaForecast> forecast(const std::optional<history::RhythmHistory>& history,
                                      platform::Date now, std::optional<platform::Date> reset,
                                      double remaining, std::optional<double> recentRate,
                                      const platform::Calendar& calendar,
                                      int scenarioCount = defaultScenarioCount);

// The statistics over finished scenarios: one demand per scenario and the exhaustion dates of
// those that ran out. Fills the demand, remaining and exhaustion fields only.
QuotaForecast summarizeScenarios(std::vector<double> demands,
                                 std::vector<platform::Date> exhaustionDates, double remaining);

}  // namespace kestrane::forecast::ForecastSimulator
