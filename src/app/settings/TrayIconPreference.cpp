#include "app/settings/TrayIconPreference.h"

namespace kestrane::app::TrayIconPreference {

TrayIconStyle read(const platform::PreferencesStore& defaults) {
    return app::read(defaults, settings::trayIconStyle);
}

void write(platform::PreferencesStore& defaults, TrayIconStyle style) {
    app::write(defaults, settings::trayIconStyle, style);
}

}  // namespace kestrane::app::TrayIconPreference
