#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <QStringList>

#include "app/settings/NotificationThresholds.h"
#include "app/settings/Settings.h"
#include "ui/PanelScreenContext.h"
#include "ui/ProviderViewState.h"

class QWidget;

namespace kestrane::ui {

// The rows about the program on the desktop, below the providers.
struct DesktopSettingsState {
    app::TrayIconStyle trayIconStyle = app::TrayIconStyle::automatic;
    app::PanelAppearance panelAppearance = app::PanelAppearance::system;
    // Whether the program starts at login; nothing leaves the switch out.
    std::optional<bool> startsAtLogin;
    // Why the last change of that switch failed.
    std::optional<std::string> startAtLoginError;
};

// The settings: one row per provider with its mark, name and the switch that shows it in the
// tray, divided by hairlines; below them the notification settings, then the desktop rows (the
// panel's appearance, tray icon tint, start at login).
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
    // The labels of the tray icon tint, in segment order.
    static QStringList trayIconStyleLabels();
    // The labels of the panel's appearance, in segment order.
    static QStringList panelAppearanceLabels();

    SettingsScreen(const std::vector<ProviderViewState>& states, Notifications notifications,
                   const DesktopSettingsState& desktop, const PanelScreenContext& context)
        : states_(states), notifications_(notifications), desktop_(desktop), context_(context) {}

    // The screen's document, parented to the context's owner.
    QWidget* make() const;

  private:
    QWidget* makeRow(const ProviderViewState& state, QWidget* parent) const;
    // The "Уведомления" switch and, under it, the two thresholds.
    QWidget* makeNotificationsBlock(QWidget* parent) const;
    QWidget* makeDesktopRows(QWidget* parent) const;

    const std::vector<ProviderViewState>& states_;
    Notifications notifications_;
    const DesktopSettingsState& desktop_;
    const PanelScreenContext& context_;
};

}  // namespace kestrane::ui
