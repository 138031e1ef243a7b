#pragma once

#include <optional>
#include <vector>

#include "history/UsageSeries.h"
#include "model/LimitWindow.h"
#include "platform/Date.h"

namespace kestrane::history {

// Consumption inside one time bucket of the chart.
struct BurnBucket {
    platform::Date start;
    platform::Date end;
    // Percentage points consumed inside the bucket.
    double usedPercent = 0;
    // Seconds of the bucket covered by usable sample pairs; 0 means "not observed".
    double observedSeconds = 0;

    bool operator==(const BurnBucket&) const = default;
};

// Percentage points consumed over a number of observed seconds.
struct RecentObservation {
    double used = 0;
    double seconds = 0;

    bool operator==(const RecentObservation&) const = default;
};

// What the card, chart and forecast derive from one window's series. Usage between two
// consecutive samples of a usable pair (joined, no transition, not falling) is assumed to grow
// linearly in time; other pairs contribute nothing.
struct UsageAnalytics {
    std::vector<UsageSample> samples;
    platform::Date now;
    std::optional<platform::Date> resetsAt;
    double remainingPercent = 100;
    // The provider's last fetch failed.
    bool isUnavailable = false;

    // Built as the panel does: the stored series' samples (or none) and the window's values.
    static UsageAnalytics make(const std::optional<UsageSeries>& series,
                               const model::LimitWindow& window, platform::Date now,
                               bool isUnavailable);

    // Too old to trust: unavailable, reset passed, no samples or last one over 15 minutes old.
    bool isStale() const;
    // Consumption during the hour before the last sample, when at least two minutes of it were
    // covered by usable pairs.
    std::optional<RecentObservation> recentObservation() const;
    std::vector<BurnBucket> buckets(platform::Date start, platform::Date end, int count) const;

    bool operator==(const UsageAnalytics&) const = default;
};

}  // namespace kestrane::history
