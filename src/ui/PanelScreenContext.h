#pragma once

#include <functional>

#include <QString>

#include "model/ProviderKind.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

class QWidget;

namespace kestrane::ui {

// What the panel controller does when a control on a screen is used.
struct PanelActions {
    std::function<void()> toggleMode;
    std::function<void(int segment)> providerSelected;
    std::function<void(int index)> windowSelected;
    std::function<void(int index)> otherWindowSelected;
    std::function<void(int segment)> chartStyleSelected;
    std::function<void()> toggleAccountDetails;
    std::function<void()> refreshServices;
    std::function<void(const QString& serviceID)> stopService;
    std::function<void(model::ProviderKind, bool isOn)> providerToggled;
    std::function<void(bool isOn)> notificationsToggled;
    std::function<void(int percent)> notifyBelowSelected;
    std::function<void(int percent)> notifyCriticalSelected;
    // Settings of the program on the desktop.
    std::function<void(int segment)> trayIconStyleSelected;
    std::function<void(int segment)> panelAppearanceSelected;
    std::function<void(bool isOn)> startAtLoginToggled;
};

// What a screen needs besides the state it shows. Screens only read; every change goes
// through the actions.
struct PanelScreenContext {
    // The widget screens are built in: fonts and colours come from it, and the controls'
    // connections end with it.
    QWidget& owner;
    const platform::Calendar& calendar;
    // The one instant a screen is built for.
    platform::Date now;
    const PanelActions& actions;
};

}  // namespace kestrane::ui
