#include "history/UsageAnalytics.h"

#include <algorithm>
#include <cmath>

namespace kestrane::history {
namespace {

bool isUsablePair(const UsageSample& a, const UsageSample& b) {
    return !b.startsSegment && !b.transition && b.date > a.date && a.usedPercent <= b.usedPercent;
}

}  // namespace

UsageAnalytics UsageAnalytics::make(const std::optional<UsageSeries>& series,
                                    const model::LimitWindow& window, platform::Date now,
                                    bool isUnavailable) {
    return UsageAnalytics{
        .samples = series ? series->samples : std::vector<UsageSample>{},
        .now = now,
        .resetsAt = window.resetsAt,
        .remainingPercent = std::max(0.0, std::min(100.0, 100 - window.usedPercent)),
        .isUnavailable = isUnavailable,
    };
}

bool UsageAnalytics::isStale() const {
    if (isUnavailable) return true;
    if (resetsAt && *resetsAt <= now) return true;
    if (samples.empty()) return true;
    return now - samples.back().date > 900;
}

std::optional<RecentObservation> UsageAnalytics::recentObservation() const {
    if (isStale() || samples.size() < 2) return std::nullopt;
    const platform::Date windowStart = samples.back().date - 3600;
    RecentObservation result;
    for (std::size_t i = samples.size() - 1; i >= 1; --i) {
        const UsageSample& a = samples[i - 1];
        const UsageSample& b = samples[i];
        if (!isUsablePair(a, b) || b.date <= windowStart) break;
        const double span = b.date - a.date;
        const double overlap = b.date - std::max(a.date, windowStart);
        result.used += (b.usedPercent - a.usedPercent) * overlap / span;
        result.seconds += overlap;
    }
    if (!(result.seconds >= 120)) return std::nullopt;
    return result;
}

std::vector<BurnBucket> UsageAnalytics::buckets(platform::Date start, platform::Date end,
                                                int count) const {
    if (count <= 0 || !(end > start)) return {};
    const double width = (end - start) / count;
    std::vector<double> used(static_cast<std::size_t>(count), 0.0);
    std::vector<double> observed(static_cast<std::size_t>(count), 0.0);
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const UsageSample& a = samples[i - 1];
        const UsageSample& b = samples[i];
        if (!isUsablePair(a, b)) continue;
        const double span = b.date - a.date;
        // Only the buckets around the pair can overlap it; one bucket of margin on each side
        // absorbs rounding in the bucket edges.
        const double first = std::floor((a.date - start) / width) - 1;
        const double last = std::floor((b.date - start) / width) + 1;
        if (last < 0 || first > count - 1) continue;
        const int from = static_cast<int>(std::max(0.0, first));
        const int to = static_cast<int>(std::min<double>(count - 1, last));
        for (int k = from; k <= to; ++k) {
            const platform::Date bucketStart = start + k * width;
            const platform::Date bucketEnd = bucketStart + width;
            const double overlap = std::min(bucketEnd, b.date) - std::max(bucketStart, a.date);
            if (overlap > 0) {
                used[static_cast<std::size_t>(k)] +=
                    (b.usedPercent - a.usedPercent) * overlap / span;
                observed[static_cast<std::size_t>(k)] += overlap;
            }
        }
    }
    std::vector<BurnBucket> result;
    result.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        result.push_back(BurnBucket{start + width * k, start + width * (k + 1),
                                    used[static_cast<std::size_t>(k)],
                                    observed[static_cast<std::size_t>(k)]});
    }
    return result;
}

}  // namespace kestrane::history
