#include "app/settings/TrayIconPreference.h"

namespace kestrane::app::TrayIconPreference {

TrayIconStyle read(const platform::PreferencesStore& defaults) {
    const auto stored = defaults.value(key);
    if (!stored || !stored->is_string()) return TrayIconStyle::automatic;
    const auto& text = stored->get_ref<const std::string&>();
    if (text == "light") return TrayIconStyle::light;
    if (text == "dark") return TrayIconStyle::dark;
    return TrayIconStyle::automatic;
}

void write(platform::PreferencesStore& defaults, TrayIconStyle style) {
    switch (style) {
        case TrayIconStyle::automatic:
            defaults.setValue(key, "automatic");
            return;
        case TrayIconStyle::light:
            defaults.setValue(key, "light");
            return;
        case TrayIconStyle::dark:
            defaults.setValue(key, "dark");
            return;
    }
}

}  // namespace kestrane::app::TrayIconPreference
