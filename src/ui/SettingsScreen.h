#pragma once

#include <array>
#include <vector>

#include "app/UsageNotifications.h"
#include "ui/PanelScreenContext.h"
#include "ui/ProviderViewState.h"

class QWidget;

namespace kestrane::ui {

// The settings: one row per provider with its mark, name and the switch that shows it in the
// tray, divided by hairlines; below them the notification settings.
class SettingsScreen {
  public:
    // The notification settings as stored.
    struct Notifications {
        bool enabled = true;
        app::NotificationThresholds thresholds;
    };
    // The choices offered for the two thresholds, in percent.
    static constexpr std::array<int, 4> lowChoices{10, 20, 30, 50};
    static constexpr std::array<int, 3> criticalChoices{2, 5, 10};

    SettingsScreen(const std::vector<ProviderViewState>& states, Notifications notifications,
                   const PanelScreenContext& context)
        : states_(states), notifications_(notifications), context_(context) {}

    // The screen's document, parented to the context's owner.
    QWidget* make() const;

  private:
    QWidget* makeRow(const ProviderViewState& state, QWidget* parent) const;
    // The "Уведомления" switch and, under it, the two thresholds.
    QWidget* makeNotificationsBlock(QWidget* parent) const;

    const std::vector<ProviderViewState>& states_;
    Notifications notifications_;
    const PanelScreenContext& context_;
};

}  // namespace kestrane::ui
