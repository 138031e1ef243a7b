#include "app/desktop/PanelSettingsBinding.h"

#include <exception>

namespace kestrane::app {

PanelSettingsBinding::PanelSettingsBinding(ui::PanelContent& panel, platform::SettingsStore& store,
                                           const StartAtLogin* startAtLogin)
    : QObject(&panel), panel_(panel), preferences_(store), startAtLogin_(startAtLogin) {
    using ui::PanelContent;
    // Each choice is stored, then the panel gets the stored settings back before it renders.
    const auto stored = [this](auto store) {
        return [this, store](auto value) {
            store(value);
            update();
        };
    };
    connect(&panel, &PanelContent::providerChosen, this,
            stored([this](model::ProviderKind provider) {
                preferences_.setSelectedProvider(provider);
            }));
    connect(&panel, &PanelContent::chartStyleChosen, this,
            stored([this](bool showsBurn) { preferences_.setChartShowsBurn(showsBurn); }));
    connect(&panel, &PanelContent::notificationsEnabledChosen, this,
            stored([this](bool isOn) { preferences_.setNotificationsEnabled(isOn); }));
    connect(&panel, &PanelContent::notifyBelowPercentChosen, this,
            stored([this](int percent) { preferences_.setNotifyBelowPercent(percent); }));
    connect(&panel, &PanelContent::notifyCriticalPercentChosen, this,
            stored([this](int percent) { preferences_.setNotifyCriticalPercent(percent); }));
    connect(&panel, &PanelContent::trayIconStyleChosen, this, stored([this](TrayIconStyle style) {
        preferences_.setTrayIconStyle(style);
        emit trayIconStyleChanged();
    }));
    connect(&panel, &PanelContent::panelAppearanceChosen, this,
            stored([this](PanelAppearance appearance) {
                preferences_.setPanelAppearance(appearance);
                emit panelAppearanceChanged();
            }));
    connect(&panel, &PanelContent::startAtLoginChosen, this,
            &PanelSettingsBinding::startAtLoginChosen);
    update();
}

ui::PanelSettings PanelSettingsBinding::current() const {
    return {
        .selectedProvider = preferences_.selectedProvider(),
        .chartShowsBurn = preferences_.chartShowsBurn(),
        .notifications = {preferences_.notificationsEnabled(),
                          preferences_.notificationThresholds()},
        .desktop = {.trayIconStyle = preferences_.trayIconStyle(),
                    .panelAppearance = preferences_.panelAppearance(),
                    .startsAtLogin = startAtLogin_ ? std::optional<bool>(startAtLogin_->isEnabled())
                                                   : std::nullopt,
                    .startAtLoginError = startAtLoginError_}};
}

void PanelSettingsBinding::startAtLoginChosen(bool isOn) {
    startAtLoginError_.reset();
    if (startAtLogin_) {
        try {
            startAtLogin_->setEnabled(isOn);
        } catch (const std::exception& error) {
            startAtLoginError_ = error.what();
        }
    }
    update();
}

void PanelSettingsBinding::update() { panel_.setSettings(current()); }

}  // namespace kestrane::app
