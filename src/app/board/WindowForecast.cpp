#include "app/board/WindowForecast.h"

#include "forecast/WindowOutlook.h"

namespace kestrane::app {

std::optional<WindowForecast> WindowForecast::make(
    const std::optional<history::UsageSeries>& series,
    const std::optional<history::RhythmHistory>& rhythm, const model::LimitWindow& window,
    platform::Date now, bool isUnavailable, const platform::Calendar& calendar) {
    const auto outlook =
        forecast::WindowOutlook::make(window, series, rhythm, now, isUnavailable, calendar);
    if (!outlook.forecast) return std::nullopt;
    const double remaining = outlook.analytics.remainingPercent;
    return WindowForecast{
        *outlook.forecast,
        forecast::ForecastInsight::make(*outlook.forecast, remaining, outlook.analytics.now,
                                        calendar),
        remaining};
}

}  // namespace kestrane::app
