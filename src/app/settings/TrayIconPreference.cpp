#include "app/settings/TrayIconPreference.h"

namespace kestrane::app::TrayIconPreference {

TrayIconStyle read(const platform::SettingsStore& settingsStore) {
    return app::read(settingsStore, settings::trayIconStyle);
}

void write(platform::SettingsStore& settingsStore, TrayIconStyle style) {
    app::write(settingsStore, settings::trayIconStyle, style);
}

}  // namespace kestrane::app::TrayIconPreference
