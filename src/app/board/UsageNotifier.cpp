#include "app/board/UsageNotifier.h"

namespace kestrane::app {

UsageNotifier::UsageNotifier(platform::SettingsStore& settingsStore, NotificationStateFile file,
                             Send send)
    : preferences_(settingsStore),
      file_(std::move(file)),
      send_(std::move(send)),
      state_(file_.load()) {}

void UsageNotifier::boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) {
    snapshot_ = snapshot;
    const NotifiedState before = state_;
    std::vector<UsageNotification> notifications;
    for (const model::ProviderKind provider : snapshot->fresh) {
        const ProviderState& state = snapshot->state(provider);
        if (!state.usage) continue;
        std::optional<BadgeForecast> badgeForecast;
        if (const BoardProvider* outlook = snapshot->find(provider)) {
            const BoardWindow* badge = state.usage->windows.empty()
                                           ? nullptr
                                           : outlook->window(0, state.usage->windows.front().id);
            if (badge && badge->outlook.forecast && badge->insight) {
                badgeForecast = BadgeForecast{*badge->outlook.forecast, *badge->insight};
            }
        }
        for (UsageNotification& notification :
             notificationsFor(*state.usage, badgeForecast, preferences_.notificationThresholds(),
                              snapshot->madeAt, snapshot->calendar, state_)) {
            notifications.push_back(std::move(notification));
        }
    }
    if (state_ != before) file_.save(state_);
    if (!preferences_.notificationsEnabled() || !send_) return;
    for (const UsageNotification& notification : notifications) send_(notification);
}

}  // namespace kestrane::app
