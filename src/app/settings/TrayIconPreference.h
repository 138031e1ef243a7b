#pragma once

#include <string_view>

#include "app/settings/Settings.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// The tray icons' tint (TrayIconStyle, in Settings.h), read and written through its row there.
namespace TrayIconPreference {

inline constexpr std::string_view key = settings::trayIconStyle.key;

// The stored choice; anything but "light" or "dark" is automatic.
TrayIconStyle read(const platform::SettingsStore& settingsStore);
void write(platform::SettingsStore& settingsStore, TrayIconStyle style);

}  // namespace TrayIconPreference

}  // namespace kestrane::app
