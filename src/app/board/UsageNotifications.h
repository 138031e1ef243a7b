#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/NotificationThresholds.h"
#include "forecast/ForecastInsight.h"
#include "forecast/QuotaForecast.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::app {

// What the user was last told about one window. Kept across launches, so a restart does not
// repeat a notification for a state that was already true.
struct NotifiedWindowState {
    enum class Level { normal, low, critical };

    Level level = Level::normal;
    // The window's reset time when it was last seen: a later one means it was reset.
    std::optional<platform::Date> resetsAt;
    // The forecast expected the limit to run out before the reset (badge window only).
    bool shortage = false;

    bool operator==(const NotifiedWindowState&) const = default;
};

// Keyed by provider raw value, "/" and window id.
using NotifiedState = std::map<std::string, NotifiedWindowState>;

struct UsageNotification {
    enum class Kind { low, critical, refilled, shortage };

    Kind kind = Kind::low;
    model::ProviderKind provider = model::ProviderKind::codex;
    std::string windowID;
    std::string title;
    std::string body;

    bool operator==(const UsageNotification&) const = default;
};

// The forecast of a provider's badge window (the first) and the verdict the panel gives it.
struct BadgeForecast {
    forecast::QuotaForecast forecast;
    forecast::ForecastInsight insight;
};

// Which notifications one fresh usage of a provider produces against what was last told,
// and the state to remember after it (written into `state`). Only call it with the result of
// a successful fetch: stale figures tell nothing new.
//
// - A window whose shown remaining share falls below `low` or `critical` is told once per
//   crossing; a fall past both at once is told as the critical one. Rising back above a
//   threshold is remembered silently, so the next fall is told again.
// - A window that was below `low` and is at or above it again after its reset is told as
//   refilled. Rising without a reset (a lowered threshold) is not a refill.
// - The badge window (the first) is told when its verdict turns to a shortage, unless a
//   crossing of the same window is told in the same call.
// - A window never seen before is remembered without a notification: its state may well
//   have been true for long.
// Windows of this provider that are no longer reported are forgotten.
std::vector<UsageNotification> notificationsFor(const model::ProviderUsage& usage,
                                                const std::optional<BadgeForecast>& badgeForecast,
                                                NotificationThresholds thresholds,
                                                platform::Date now,
                                                const platform::Calendar& calendar,
                                                NotifiedState& state);

}  // namespace kestrane::app
