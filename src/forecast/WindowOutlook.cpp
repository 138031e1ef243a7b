#include "forecast/WindowOutlook.h"

#include "forecast/ForecastSimulator.h"

namespace kestrane::forecast {

WindowOutlook WindowOutlook::make(const model::LimitWindow& window,
                                  const std::optional<history::UsageSeries>& series,
                                  const std::optional<history::RhythmHistory>& rhythm,
                                  platform::Date now, bool isUnavailable,
                                  const platform::Calendar& calendar) {
    WindowOutlook outlook{history::UsageAnalytics::make(series, window, now, isUnavailable),
                          std::nullopt};
    outlook.forecast = forecastFor(outlook.analytics, rhythm, window.resetsAt, calendar);
    return outlook;
}

std::optional<QuotaForecast> WindowOutlook::forecastFor(
    const history::UsageAnalytics& analytics, const std::optional<history::RhythmHistory>& rhythm,
    std::optional<platform::Date> resetsAt, const platform::Calendar& calendar) {
    if (!rhythm || analytics.isStale() || !(analytics.remainingPercent > 0)) return std::nullopt;
    std::optional<double> recentRate;
    if (const auto observation = analytics.recentObservation()) {
        recentRate = observation->used / observation->seconds * 3600;
    }
    // The forecast starts where the data ends, not at the moment it is looked at.
    const platform::Date from =
        analytics.samples.empty() ? analytics.now : analytics.samples.back().date;
    return ForecastSimulator::forecast(rhythm, from, resetsAt, analytics.remainingPercent,
                                       recentRate, calendar);
}

}  // namespace kestrane::forecast
