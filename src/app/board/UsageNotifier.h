#pragma once

#include <functional>
#include <memory>

#include "app/board/NotificationStateFile.h"
#include "app/board/ProviderBoard.h"
#include "app/board/UsageNotifications.h"
#include "app/settings/ProviderPreferences.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// Tells the user about each fresh usage as the notification rule says, and keeps what was
// told on disk. It reads every snapshot of the board; the providers fresh in it are judged
// with the board's own forecast, verdict and calendar. The state is tracked while
// notifications are switched off too, so switching them on does not bring old news.
class UsageNotifier final : public BoardObserver {
  public:
    using Send = std::function<void(const UsageNotification&)>;

    UsageNotifier(platform::SettingsStore& settingsStore, NotificationStateFile file, Send send);

    void boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) override;

    const NotifiedState& state() const { return state_; }
    // The last snapshot read (nothing before the first).
    const std::shared_ptr<const BoardSnapshot>& lastSnapshot() const { return snapshot_; }

  private:
    ProviderPreferences preferences_;
    NotificationStateFile file_;
    Send send_;
    NotifiedState state_;
    std::shared_ptr<const BoardSnapshot> snapshot_;
};

}  // namespace kestrane::app
