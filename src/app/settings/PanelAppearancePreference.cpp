#include "app/settings/PanelAppearancePreference.h"

namespace kestrane::app::PanelAppearancePreference {

PanelAppearance read(const platform::PreferencesStore& defaults) {
    const auto stored = defaults.value(key);
    if (!stored || !stored->is_string()) return PanelAppearance::system;
    const auto& text = stored->get_ref<const std::string&>();
    if (text == "light") return PanelAppearance::light;
    if (text == "dark") return PanelAppearance::dark;
    return PanelAppearance::system;
}

void write(platform::PreferencesStore& defaults, PanelAppearance appearance) {
    switch (appearance) {
        case PanelAppearance::system:
            defaults.setValue(key, "system");
            return;
        case PanelAppearance::light:
            defaults.setValue(key, "light");
            return;
        case PanelAppearance::dark:
            defaults.setValue(key, "dark");
            return;
    }
}

}  // namespace kestrane::app::PanelAppearancePreference
