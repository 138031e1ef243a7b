#pragma once

#include <string_view>

#include "platform/PreferencesStore.h"

namespace kestrane::app {

// Which tint the tray icons take: following the desktop, or always light (for dark panels)
// or always dark (for light ones). Panels that the desktop's colour scheme does not describe
// (a dark bar on a light desktop) need the user's word.
enum class TrayIconStyle { automatic, light, dark };

namespace TrayIconPreference {

inline constexpr std::string_view key = "trayIconStyle";

// The stored choice; anything but "light" or "dark" is automatic.
TrayIconStyle read(const platform::PreferencesStore& defaults);
void write(platform::PreferencesStore& defaults, TrayIconStyle style);

}  // namespace TrayIconPreference

}  // namespace kestrane::app
