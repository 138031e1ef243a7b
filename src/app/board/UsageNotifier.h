#pragma once

#include <functional>

#include "app/board/NotificationStateFile.h"
#include "app/board/ProviderBoard.h"
#include "app/board/UsageNotifications.h"
#include "app/settings/ProviderPreferences.h"
#include "model/ProviderKind.h"
#include "platform/Date.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// Tells the user about each fresh usage as the notification rule says, and keeps what was
// told on disk. The state is tracked while notifications are switched off too, so switching
// them on does not bring old news. The forecast and the calendar are the board's.
class UsageNotifier {
  public:
    using Send = std::function<void(const UsageNotification&)>;

    UsageNotifier(platform::SettingsStore& settingsStore, NotificationStateFile file, Send send);

    // After the board took a refresh in which `provider`'s fetch succeeded.
    void observe(const ProviderBoard& board, model::ProviderKind provider, platform::Date now);

    const NotifiedState& state() const { return state_; }

  private:
    ProviderPreferences preferences_;
    NotificationStateFile file_;
    Send send_;
    NotifiedState state_;
};

}  // namespace kestrane::app
