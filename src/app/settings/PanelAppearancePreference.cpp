#include "app/settings/PanelAppearancePreference.h"

namespace kestrane::app::PanelAppearancePreference {

PanelAppearance read(const platform::PreferencesStore& defaults) {
    return app::read(defaults, settings::panelAppearance);
}

void write(platform::PreferencesStore& defaults, PanelAppearance appearance) {
    app::write(defaults, settings::panelAppearance, appearance);
}

}  // namespace kestrane::app::PanelAppearancePreference
