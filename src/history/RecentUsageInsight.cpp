#include "history/RecentUsageInsight.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kestrane::history {
namespace {

std::string minutesNoun(long long minutes) {
    const long long last = minutes % 10;
    const long long lastTwo = minutes % 100;
    if (last == 1 && lastTwo != 11) return "минуту";
    if (last >= 2 && last <= 4 && !(lastTwo >= 12 && lastTwo <= 14)) return "минуты";
    return "минут";
}

std::string amount(double used) {
    if (used < 0.1) return "меньше 0,1%";
    const double tenths = std::round(used * 10) / 10;  // halves away from zero
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, tenths == std::trunc(tenths) ? "%.0f%%" : "%.1f%%",
                  tenths);
    std::string text = buffer;
    for (char& c : text) {
        if (c == '.') c = ',';
    }
    return text;
}

}  // namespace

std::optional<RecentUsageInsight> RecentUsageInsight::make(const UsageAnalytics& analytics) {
    const auto observation = analytics.recentObservation();
    if (!observation || observation->seconds < 900) return std::nullopt;
    const long long minutes = std::llround(observation->seconds / 60);
    const std::string prefix = minutes >= 60
                                   ? std::string("За последний час")
                                   : "За " + std::to_string(minutes) + " " + minutesNoun(minutes);
    if (observation->used == 0) return RecentUsageInsight{prefix + " остаток не изменился"};
    return RecentUsageInsight{prefix + " потрачено " + amount(observation->used) + " лимита"};
}

}  // namespace kestrane::history
