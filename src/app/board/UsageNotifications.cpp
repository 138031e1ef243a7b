#include "app/board/UsageNotifications.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "model/DateFormatting.h"

namespace kestrane::app {

namespace {

using Level = NotifiedWindowState::Level;
using model::LimitWindow;

// The share as the badge shows it, so a notification never contradicts the badge.
long long shownRemaining(const LimitWindow& window) {
    const double remaining = 100 - window.usedPercent;
    if (std::isnan(remaining)) return 0;
    return model::roundedPercent(std::clamp(remaining, 0.0, 100.0));
}

Level levelOf(long long remaining, NotificationThresholds thresholds) {
    const int critical = std::min(thresholds.critical, thresholds.low);
    if (remaining < critical) return Level::critical;
    if (remaining < thresholds.low) return Level::low;
    return Level::normal;
}

bool wasReset(const NotifiedWindowState& before, const LimitWindow& window, platform::Date now) {
    // Without a known reset time only the rise itself tells.
    if (!before.resetsAt) return true;
    if (*before.resetsAt <= now) return true;
    return window.resetsAt && *window.resetsAt > *before.resetsAt + 60;
}

std::string key(model::ProviderKind provider, const std::string& windowID) {
    return std::string(model::rawValue(provider)) + "/" + windowID;
}

std::string remainingSentence(const LimitWindow& window, platform::Date now) {
    std::string text =
        window.periodTitle() + ": осталось " + std::to_string(shownRemaining(window)) + "%";
    if (window.resetsAt && *window.resetsAt > now) {
        text += ", сброс " + model::DateFormatting::relativeReset(*window.resetsAt, now);
    }
    // The relative time ends with an abbreviation's full stop already ("мин.").
    return text.ends_with('.') ? text : text + ".";
}

std::string exhaustionMoment(platform::Date date, platform::Date now,
                             const platform::Calendar& calendar) {
    return calendar.isSameDay(date, now) ? calendar.format(date, "'в' HH:mm", "ru_RU")
                                         : calendar.format(date, "d MMMM 'в' HH:mm", "ru_RU");
}

}  // namespace

std::vector<UsageNotification> notificationsFor(const model::ProviderUsage& usage,
                                                const std::optional<BadgeForecast>& badgeForecast,
                                                NotificationThresholds thresholds,
                                                platform::Date now,
                                                const platform::Calendar& calendar,
                                                NotifiedState& state) {
    std::vector<UsageNotification> result;
    const std::string name(model::rawValue(usage.provider));
    std::set<std::string> seen;
    for (std::size_t index = 0; index < usage.windows.size(); ++index) {
        const LimitWindow& window = usage.windows[index];
        const std::string windowKey = key(usage.provider, window.id);
        if (!seen.insert(windowKey).second) continue;
        const long long remaining = shownRemaining(window);
        NotifiedWindowState now_{levelOf(remaining, thresholds), window.resetsAt, false};
        if (index == 0 && badgeForecast) {
            now_.shortage =
                badgeForecast->insight.tone == forecast::ForecastInsight::Tone::shortage;
        }
        const auto found = state.find(windowKey);
        if (found == state.end()) {
            state[windowKey] = now_;
            continue;
        }
        const NotifiedWindowState before = found->second;
        const auto tell = [&](UsageNotification::Kind kind, std::string title, std::string body) {
            result.push_back({kind, usage.provider, window.id, std::move(title), std::move(body)});
        };
        bool toldCrossing = false;
        if (now_.level > before.level) {
            const bool critical = now_.level == Level::critical;
            const int threshold =
                critical ? std::min(thresholds.critical, thresholds.low) : thresholds.low;
            tell(critical ? UsageNotification::Kind::critical : UsageNotification::Kind::low,
                 name + ": осталось меньше " + std::to_string(threshold) + "%",
                 remainingSentence(window, now));
            toldCrossing = true;
        } else if (now_.level == Level::normal && before.level != Level::normal &&
                   wasReset(before, window, now)) {
            tell(UsageNotification::Kind::refilled, name + ": лимит снова доступен",
                 remainingSentence(window, now));
            toldCrossing = true;
        }
        if (now_.shortage && !before.shortage && !toldCrossing) {
            const platform::Date date = *badgeForecast->forecast.medianExhaustionDate;
            tell(UsageNotification::Kind::shortage,
                 name + ": лимит может закончиться до сброса, примерно " +
                     exhaustionMoment(date, now, calendar),
                 remainingSentence(window, now) + " " + badgeForecast->insight.guidance);
        }
        found->second = now_;
    }
    // A window the provider stopped reporting starts afresh if it comes back.
    const std::string prefix = name + "/";
    for (auto it = state.begin(); it != state.end();) {
        if (it->first.starts_with(prefix) && !seen.contains(it->first)) {
            it = state.erase(it);
        } else {
            ++it;
        }
    }
    return result;
}

}  // namespace kestrane::app
