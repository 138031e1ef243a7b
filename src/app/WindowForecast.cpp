#include "app/WindowForecast.h"

#include "forecast/RhythmForecaster.h"
#include "history/UsageAnalytics.h"

namespace kestrane::app {

std::optional<WindowForecast> WindowForecast::make(
    const std::optional<history::UsageSeries>& series,
    const std::optional<history::RhythmHistory>& rhythm, const model::LimitWindow& window,
    platform::Date now, bool isUnavailable, const platform::Calendar& calendar) {
    const history::UsageAnalytics analytics =
        history::UsageAnalytics::make(series, window, now, isUnavailable);
    if (analytics.isStale() || !(analytics.remainingPercent > 0) || !rhythm) return std::nullopt;
    std::optional<double> recentRate;
    if (const auto observation = analytics.recentObservation()) {
        recentRate = observation->used / observation->seconds * 3600;
    }
    // Forecast from the last observation, so that a late look does not invent usage.
    const platform::Date forecastNow =
        analytics.samples.empty() ? analytics.now : analytics.samples.back().date;
    const auto result = forecast::RhythmForecaster::forecast(
        rhythm, forecastNow, window.resetsAt, analytics.remainingPercent, recentRate, calendar);
    if (!result) return std::nullopt;
    return WindowForecast{
        *result,
        forecast::ForecastInsight::make(*result, analytics.remainingPercent, analytics.now,
                                        calendar),
        analytics.remainingPercent};
}

}  // namespace kestrane::app
