#pragma once

#include <string_view>

#include "app/settings/Settings.h"
#include "platform/SettingsStore.h"

namespace kestrane::app::PanelAppearancePreference {

inline constexpr std::string_view key = settings::panelAppearance.key;

// The stored choice; anything but "light" or "dark" follows the system.
PanelAppearance read(const platform::SettingsStore& settingsStore);
void write(platform::SettingsStore& settingsStore, PanelAppearance appearance);

}  // namespace kestrane::app::PanelAppearancePreference
