#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/settings/NotificationThresholds.h"
#include "app/settings/Settings.h"
#include "model/ProviderKind.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// Every stored preference, typed: which providers are on, the notifications, what the panel
// remembers and how the desktop shows the program. Caches nothing: every query reads the
// store, so a change made through one value is seen at once through every other.
class ProviderPreferences {
  public:
    // The stored keys, as listed in Settings.h.
    static constexpr std::string_view togglesKey = settings::providerToggles.key;
    static constexpr std::string_view selectedProviderKey = settings::selectedProvider.key;
    static constexpr std::string_view chartShowsBurnKey = settings::chartShowsBurn.key;
    static constexpr std::string_view notificationsEnabledKey = settings::notificationsEnabled.key;
    static constexpr std::string_view notifyBelowPercentKey = settings::notifyBelowPercent.key;
    static constexpr std::string_view notifyCriticalPercentKey =
        settings::notifyCriticalPercent.key;
    static constexpr std::string_view trayIconStyleKey = settings::trayIconStyle.key;
    static constexpr std::string_view panelAppearanceKey = settings::panelAppearance.key;

    explicit ProviderPreferences(platform::SettingsStore& settingsStore)
        : settingsStore_(&settingsStore) {}

    bool isEnabled(model::ProviderKind kind) const;
    // Canonical provider order, whatever order the toggles were made in. May be empty.
    std::vector<model::ProviderKind> enabledProviders() const;
    void setEnabled(bool enabled, model::ProviderKind kind);

    // Desktop notifications: on unless switched off.
    bool notificationsEnabled() const;
    void setNotificationsEnabled(bool enabled);
    // The two remaining shares that are told about (defaults 20 and 5); a stored value that
    // is not a whole number from 1 to 99 reads as the default.
    NotificationThresholds notificationThresholds() const;
    void setNotifyBelowPercent(int percent);
    void setNotifyCriticalPercent(int percent);

    // The provider the panel shows, and whether its chart shows the burn rate.
    std::optional<model::ProviderKind> selectedProvider() const;
    void setSelectedProvider(std::optional<model::ProviderKind> provider);
    bool chartShowsBurn() const;
    void setChartShowsBurn(bool showsBurn);
    // The tray icons' tint; anything stored but "light" or "dark" is automatic.
    TrayIconStyle trayIconStyle() const;
    void setTrayIconStyle(TrayIconStyle style);
    // The panel's look; anything stored but "light" or "dark" follows the system.
    PanelAppearance panelAppearance() const;
    void setPanelAppearance(PanelAppearance appearance);

    // The enabled state of a provider that was never toggled.
    static bool isEnabledByDefault(model::ProviderKind kind);

  private:
    platform::SettingsStore* settingsStore_;
};

}  // namespace kestrane::app
