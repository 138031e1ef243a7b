#include "app/settings/ProviderPreferences.h"

namespace kestrane::app {

namespace {

bool isOn(const ProviderToggles& toggles, model::ProviderKind kind) {
    const auto found = toggles.find(model::rawValue(kind));
    return found != toggles.end() ? found->second : ProviderPreferences::isEnabledByDefault(kind);
}

}  // namespace

bool ProviderPreferences::isEnabledByDefault(model::ProviderKind kind) {
    return kind == model::ProviderKind::codex || kind == model::ProviderKind::cursor;
}

bool ProviderPreferences::isEnabled(model::ProviderKind kind) const {
    return isOn(read(*settingsStore_, settings::providerToggles), kind);
}

std::vector<model::ProviderKind> ProviderPreferences::enabledProviders() const {
    const ProviderToggles toggles = read(*settingsStore_, settings::providerToggles);
    std::vector<model::ProviderKind> result;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        if (isOn(toggles, kind)) result.push_back(kind);
    }
    return result;
}

void ProviderPreferences::setEnabled(bool enabled, model::ProviderKind kind) {
    ProviderToggles toggles = read(*settingsStore_, settings::providerToggles);
    toggles[std::string(model::rawValue(kind))] = enabled;
    write(*settingsStore_, settings::providerToggles, toggles);
}

bool ProviderPreferences::notificationsEnabled() const {
    return read(*settingsStore_, settings::notificationsEnabled);
}

void ProviderPreferences::setNotificationsEnabled(bool enabled) {
    write(*settingsStore_, settings::notificationsEnabled, enabled);
}

NotificationThresholds ProviderPreferences::notificationThresholds() const {
    return {read(*settingsStore_, settings::notifyBelowPercent),
            read(*settingsStore_, settings::notifyCriticalPercent)};
}

void ProviderPreferences::setNotifyBelowPercent(int percent) {
    write(*settingsStore_, settings::notifyBelowPercent, percent);
}

void ProviderPreferences::setNotifyCriticalPercent(int percent) {
    write(*settingsStore_, settings::notifyCriticalPercent, percent);
}

std::optional<model::ProviderKind> ProviderPreferences::selectedProvider() const {
    return read(*settingsStore_, settings::selectedProvider);
}

void ProviderPreferences::setSelectedProvider(std::optional<model::ProviderKind> provider) {
    write(*settingsStore_, settings::selectedProvider, provider);
}

bool ProviderPreferences::chartShowsBurn() const {
    return read(*settingsStore_, settings::chartShowsBurn);
}

void ProviderPreferences::setChartShowsBurn(bool showsBurn) {
    write(*settingsStore_, settings::chartShowsBurn, showsBurn);
}

TrayIconStyle ProviderPreferences::trayIconStyle() const {
    return read(*settingsStore_, settings::trayIconStyle);
}

void ProviderPreferences::setTrayIconStyle(TrayIconStyle style) {
    write(*settingsStore_, settings::trayIconStyle, style);
}

PanelAppearance ProviderPreferences::panelAppearance() const {
    return read(*settingsStore_, settings::panelAppearance);
}

void ProviderPreferences::setPanelAppearance(PanelAppearance appearance) {
    write(*settingsStore_, settings::panelAppearance, appearance);
}

}  // namespace kestrane::app
