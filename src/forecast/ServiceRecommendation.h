#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::forecast {

struct WindowOutlook;

// What the recommendation reads of one enabled provider. Its figures are those of the window
// its badge shows (the first one); `leastRemaining` looks at all of them, so a nearly spent
// weekly cap behind a roomy session still counts.
struct ServiceOutlook {
    model::ProviderKind provider = model::ProviderKind::codex;
    // The last fetch succeeded and its data is recent (not stale, reset not passed).
    bool isFresh = false;
    // Remaining percent of the badge window now, 0...100.
    double remaining = 0;
    std::optional<platform::Date> resetsAt;
    // The forecast's median remaining at the reset, when a forecast could be made.
    std::optional<double> remainingAtReset;
    // The forecast expects the limit to run out before the reset.
    bool runsOutBeforeReset = false;
    // The smallest remaining percent over the windows whose reset has not passed.
    double leastRemaining = 100;

    // From what the panel holds for a provider: its last usage, whether the last fetch
    // failed, and the stored series and rhythm per window id.
    static ServiceOutlook make(model::ProviderKind provider,
                               const std::optional<model::ProviderUsage>& usage,
                               bool lastFetchFailed,
                               const std::map<std::string, history::UsageSeries>& series,
                               const std::map<std::string, history::RhythmHistory>& rhythms,
                               platform::Date now, const platform::Calendar& calendar);
    // The same from the badge window's outlook already made (none without a usage or a
    // window), so the window is not read twice.
    static ServiceOutlook make(model::ProviderKind provider,
                               const std::optional<model::ProviderUsage>& usage,
                               bool lastFetchFailed, const WindowOutlook* badge,
                               platform::Date now);

    bool operator==(const ServiceOutlook&) const = default;
};

// The service to use now, and why.
struct ServiceRecommendation {
    enum class Basis {
        // Compared by the forecast's remaining at the reset.
        forecast,
        // Compared by the remaining percent per hour until the reset.
        pace,
    };

    model::ProviderKind provider = model::ProviderKind::codex;
    Basis basis = Basis::forecast;
    // The providers whose limit may run out before their reset, in the given order.
    std::vector<model::ProviderKind> shortProviders;
    // One Russian sentence: "Сейчас лучше Codex: к сбросу останется около 60%, а у Claude
    // лимит может закончиться до сброса."
    std::string text;

    bool operator==(const ServiceRecommendation&) const = default;
};

// Below this remaining percent a window counts as running out whatever the forecast says.
inline constexpr double nearlySpentPercent = 5;

// Names a service only when some fresh providers are short and others are not: the best of
// those that are not, by the forecast's remaining at the reset when all of them have a
// forecast, else by remaining per hour until the reset. Stale or failed providers are never
// named and never make the line appear. Nothing when fewer than two outlooks are given, or
// when all fresh ones are fine or all are short. Ties go to the earlier outlook (the caller
// passes canonical provider order).
std::optional<ServiceRecommendation> recommendService(const std::vector<ServiceOutlook>& outlooks,
                                                      platform::Date now);

}  // namespace kestrane::forecast
