#pragma once

#include "app/board/UsageNotifications.h"

namespace kestrane::app {

// Shows a notification through the freedesktop Notifications service on the session bus.
// Fire and forget: without a session bus or a notification server nothing happens and
// nothing is printed.
class DesktopNotifications {
  public:
    // The installed icon and menu entry share the application id.
    static constexpr const char* iconName = "io.github.kestrane.Kestrane";

    void send(const UsageNotification& notification) const;
};

}  // namespace kestrane::app
