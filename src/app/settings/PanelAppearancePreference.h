#pragma once

#include <string_view>

#include "app/settings/Settings.h"
#include "platform/PreferencesStore.h"

namespace kestrane::app::PanelAppearancePreference {

inline constexpr std::string_view key = settings::panelAppearance.key;

// The stored choice; anything but "light" or "dark" follows the system.
PanelAppearance read(const platform::PreferencesStore& defaults);
void write(platform::PreferencesStore& defaults, PanelAppearance appearance);

}  // namespace kestrane::app::PanelAppearancePreference
