#pragma once

namespace kestrane::app {

// The remaining shares below which the user is told, in whole percent.
struct NotificationThresholds {
    int low = 20;
    int critical = 5;
    bool operator==(const NotificationThresholds&) const = default;
};

}  // namespace kestrane::app
