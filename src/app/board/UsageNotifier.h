#pragma once

#include <functional>

#include "app/board/NotificationStateFile.h"
#include "app/settings/ProviderPreferences.h"
#include "app/board/UsageHistory.h"
#include "app/board/UsageNotifications.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"
#include "platform/PreferencesStore.h"

namespace kestrane::app {

// Tells the user about each fresh usage as the notification rule says, and keeps what was
// told on disk. The state is tracked while notifications are switched off too, so switching
// them on does not bring old news.
class UsageNotifier {
  public:
    using Send = std::function<void(const UsageNotification&)>;

    UsageNotifier(platform::PreferencesStore& defaults, const UsageHistory& history,
                  platform::Calendar calendar, NotificationStateFile file, Send send);

    // After a successful fetch was recorded into the history.
    void observe(const model::ProviderUsage& usage, platform::Date now);

    const NotifiedState& state() const { return state_; }

  private:
    ProviderPreferences preferences_;
    const UsageHistory& history_;
    platform::Calendar calendar_;
    NotificationStateFile file_;
    Send send_;
    NotifiedState state_;
};

}  // namespace kestrane::app
