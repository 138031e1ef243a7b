#pragma once

#include <optional>

#include "forecast/ForecastInsight.h"
#include "forecast/RhythmForecast.h"
#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/LimitWindow.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::app {

// The forecast of one window as the panel's overview makes it, with its verdict.
struct WindowForecast {
    forecast::RhythmForecast forecast;
    forecast::ForecastInsight insight;
    // The window's remaining percent the forecast started from.
    double remaining = 0;

    // Nothing when the panel would show no forecast: stale or failed data, an exhausted
    // window, no rhythm, or a rhythm too thin to forecast from.
    static std::optional<WindowForecast> make(const std::optional<history::UsageSeries>& series,
                                              const std::optional<history::RhythmHistory>& rhythm,
                                              const model::LimitWindow& window, platform::Date now,
                                              bool isUnavailable,
                                              const platform::Calendar& calendar);
};

}  // namespace kestrane::app
