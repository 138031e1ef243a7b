#include "app/settings/PanelAppearancePreference.h"

namespace kestrane::app::PanelAppearancePreference {

PanelAppearance read(const platform::SettingsStore& settingsStore) {
    return app::read(settingsStore, settings::panelAppearance);
}

void write(platform::SettingsStore& settingsStore, PanelAppearance appearance) {
    app::write(settingsStore, settings::panelAppearance, appearance);
}

}  // namespace kestrane::app::PanelAppearancePreference
