#include "app/board/UsageNotifier.h"

namespace kestrane::app {

UsageNotifier::UsageNotifier(platform::SettingsStore& settingsStore, NotificationStateFile file,
                             Send send)
    : preferences_(settingsStore),
      file_(std::move(file)),
      send_(std::move(send)),
      state_(file_.load()) {}

void UsageNotifier::observe(const ProviderBoard& board, model::ProviderKind provider,
                            platform::Date now) {
    const ProviderState& state = board.state(provider);
    if (!state.usage) return;
    std::optional<forecast::QuotaForecast> badgeForecast;
    if (const BoardProvider* outlook = board.outlook(provider)) {
        const BoardWindow* badge = state.usage->windows.empty()
                                       ? nullptr
                                       : outlook->window(0, state.usage->windows.front().id);
        if (badge) badgeForecast = badge->outlook.forecast;
    }
    const NotifiedState before = state_;
    const std::vector<UsageNotification> notifications =
        notificationsFor(*state.usage, badgeForecast, preferences_.notificationThresholds(), now,
                         board.calendar(), state_);
    if (state_ != before) file_.save(state_);
    if (!preferences_.notificationsEnabled() || !send_) return;
    for (const UsageNotification& notification : notifications) send_(notification);
}

}  // namespace kestrane::app
