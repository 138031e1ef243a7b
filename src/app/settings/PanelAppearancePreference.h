#pragma once

#include <string_view>

#include "platform/PreferencesStore.h"

namespace kestrane::app {

// How the panel looks: as the desktop says (the portal's colour scheme, else the palette), or
// always light or always dark. Many desktops never put their dark scheme into Qt's palette,
// and some users want the panel unlike the rest of their desktop.
enum class PanelAppearance { system, light, dark };

namespace PanelAppearancePreference {

inline constexpr std::string_view key = "panelAppearance";

// The stored choice; anything but "light" or "dark" follows the system.
PanelAppearance read(const platform::PreferencesStore& defaults);
void write(platform::PreferencesStore& defaults, PanelAppearance appearance);

}  // namespace PanelAppearancePreference

}  // namespace kestrane::app
