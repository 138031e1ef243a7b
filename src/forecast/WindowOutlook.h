#pragma once

#include <optional>

#include "forecast/QuotaForecast.h"
#include "history/RhythmHistory.h"
#include "history/UsageAnalytics.h"
#include "history/UsageSeries.h"
#include "model/LimitWindow.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::forecast {

// What the stored history says about one window right now: its analytics and, when the data
// is fresh and the rhythm supports one, the forecast to its reset. The panel, the
// notifications and the service recommendation all read a window through this, so they
// never disagree about whether a forecast exists.
struct WindowOutlook {
    history::UsageAnalytics analytics;
    std::optional<QuotaForecast> forecast;

    // `isUnavailable`: the provider's last fetch failed (the figures are the old ones).
    static WindowOutlook make(const model::LimitWindow& window,
                              const std::optional<history::UsageSeries>& series,
                              const std::optional<history::RhythmHistory>& rhythm,
                              platform::Date now, bool isUnavailable,
                              const platform::Calendar& calendar);

    // The forecast for analytics already built; none for stale data or an empty window.
    static std::optional<QuotaForecast> forecastFor(
        const history::UsageAnalytics& analytics,
        const std::optional<history::RhythmHistory>& rhythm, std::optional<platform::Date> resetsAt,
        const platform::Calendar& calendar);
};

}  // namespace kestrane::forecast
