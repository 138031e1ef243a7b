#include "app/board/UsageNotifier.h"

#include "forecast/WindowOutlook.h"

namespace kestrane::app {

UsageNotifier::UsageNotifier(platform::PreferencesStore& defaults, const UsageHistory& history,
                             platform::Calendar calendar, NotificationStateFile file, Send send)
    : preferences_(defaults),
      history_(history),
      calendar_(std::move(calendar)),
      file_(std::move(file)),
      send_(std::move(send)),
      state_(file_.load()) {}

void UsageNotifier::observe(const model::ProviderUsage& usage, platform::Date now) {
    std::optional<forecast::RhythmForecast> badgeForecast;
    if (!usage.windows.empty()) {
        const model::LimitWindow& badge = usage.windows.front();
        badgeForecast = forecast::WindowOutlook::make(
                            badge, history_.series(usage.provider, badge, now),
                            history_.rhythm(usage.provider, badge), now, false, calendar_)
                            .forecast;
    }
    const NotifiedState before = state_;
    const std::vector<UsageNotification> notifications = notificationsFor(
        usage, badgeForecast, preferences_.notificationThresholds(), now, calendar_, state_);
    if (state_ != before) file_.save(state_);
    if (!preferences_.notificationsEnabled() || !send_) return;
    for (const UsageNotification& notification : notifications) send_(notification);
}

}  // namespace kestrane::app
