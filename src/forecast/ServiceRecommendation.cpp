#include "forecast/ServiceRecommendation.h"

#include <algorithm>
#include <cmath>

#include "forecast/WindowOutlook.h"
#include "model/DateFormatting.h"

namespace kestrane::forecast {

namespace {

double clampedRemaining(const model::LimitWindow& window) {
    const double remaining = 100 - window.usedPercent;
    return std::isnan(remaining) ? 0 : std::clamp(remaining, 0.0, 100.0);
}

bool isShort(const ServiceOutlook& outlook) {
    return outlook.runsOutBeforeReset || outlook.leastRemaining < nearlySpentPercent;
}

// Percent per hour until the reset; nothing without a reset time.
std::optional<double> pace(const ServiceOutlook& outlook, platform::Date now) {
    if (!outlook.resetsAt) return std::nullopt;
    // A reset within the minute would divide by almost nothing; a minute is as close as the
    // data is exact.
    const double hours = std::max(*outlook.resetsAt - now, 60.0) / 3600;
    return outlook.remaining / hours;
}

std::string names(const std::vector<model::ProviderKind>& kinds) {
    std::string text;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0) text += i + 1 == kinds.size() ? " и " : ", ";
        text += model::rawValue(kinds[i]);
    }
    return text;
}

}  // namespace

ServiceOutlook ServiceOutlook::make(model::ProviderKind provider,
                                    const std::optional<model::ProviderUsage>& usage,
                                    bool lastFetchFailed,
                                    const std::map<std::string, history::UsageSeries>& series,
                                    const std::map<std::string, history::RhythmHistory>& rhythms,
                                    platform::Date now, const platform::Calendar& calendar) {
    if (!usage || usage->windows.empty()) {
        return make(provider, usage, lastFetchFailed, nullptr, now);
    }
    const model::LimitWindow& badge = usage->windows.front();
    const auto stored = series.find(badge.id);
    const auto rhythm = rhythms.find(badge.id);
    const WindowOutlook window = WindowOutlook::make(
        badge, stored == series.end() ? std::nullopt : std::optional(stored->second),
        rhythm == rhythms.end() ? std::nullopt : std::optional(rhythm->second), now,
        lastFetchFailed, calendar);
    return make(provider, usage, lastFetchFailed, &window, now);
}

ServiceOutlook ServiceOutlook::make(model::ProviderKind provider,
                                    const std::optional<model::ProviderUsage>& usage,
                                    bool lastFetchFailed, const WindowOutlook* window,
                                    platform::Date now) {
    ServiceOutlook outlook;
    outlook.provider = provider;
    if (!usage || usage->windows.empty() || !window) return outlook;
    const model::LimitWindow& badge = usage->windows.front();
    outlook.isFresh = !lastFetchFailed && !window->analytics.isStale();
    outlook.remaining = clampedRemaining(badge);
    outlook.resetsAt = badge.resetsAt;
    if (window->forecast) {
        outlook.remainingAtReset = window->forecast->medianRemaining;
        outlook.runsOutBeforeReset = window->forecast->medianExhaustionDate.has_value();
    }
    for (const model::LimitWindow& each : usage->windows) {
        if (each.resetsAt && *each.resetsAt <= now) continue;
        outlook.leastRemaining = std::min(outlook.leastRemaining, clampedRemaining(each));
    }
    return outlook;
}

std::optional<ServiceRecommendation> recommendService(const std::vector<ServiceOutlook>& outlooks,
                                                      platform::Date now) {
    if (outlooks.size() < 2) return std::nullopt;
    std::vector<const ServiceOutlook*> fine;
    std::vector<model::ProviderKind> short_;
    for (const ServiceOutlook& outlook : outlooks) {
        if (!outlook.isFresh) continue;
        if (isShort(outlook)) {
            short_.push_back(outlook.provider);
        } else {
            fine.push_back(&outlook);
        }
    }
    if (fine.empty() || short_.empty()) return std::nullopt;

    const bool byForecast = std::all_of(fine.begin(), fine.end(), [](const ServiceOutlook* each) {
        return each->remainingAtReset.has_value();
    });
    // Larger is better; with the pace, a provider without a reset time ranks after every one
    // with a pace, among themselves by what is left.
    const auto score = [&](const ServiceOutlook& outlook) -> std::pair<int, double> {
        if (byForecast) return {1, *outlook.remainingAtReset};
        if (const auto perHour = pace(outlook, now)) return {1, *perHour};
        return {0, outlook.remaining};
    };
    const ServiceOutlook* best = fine.front();
    for (const ServiceOutlook* each : fine) {
        if (score(*each) > score(*best)) best = each;
    }

    ServiceRecommendation recommendation;
    recommendation.provider = best->provider;
    recommendation.basis =
        byForecast ? ServiceRecommendation::Basis::forecast : ServiceRecommendation::Basis::pace;
    recommendation.shortProviders = short_;
    std::string why;
    if (byForecast) {
        why = "к сбросу останется около " +
              std::to_string(model::roundedPercent(*best->remainingAtReset)) + "%";
    } else {
        why = "осталось " + std::to_string(model::roundedPercent(best->remaining)) + "%";
        if (best->resetsAt) {
            why += ", сброс " + model::DateFormatting::relativeReset(*best->resetsAt, now);
        }
    }
    recommendation.text = "Сейчас лучше " + std::string(model::rawValue(best->provider)) + ": " +
                          why + ", а у " + names(short_) +
                          (short_.size() == 1 ? " лимит может закончиться до сброса."
                                              : " лимиты могут закончиться до сброса.");
    return recommendation;
}

}  // namespace kestrane::forecast
