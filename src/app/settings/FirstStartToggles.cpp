#include "app/settings/FirstStartToggles.h"

#include <algorithm>
#include <string>

#include "app/settings/ProviderPreferences.h"

namespace kestrane::app {

ProviderToggles firstStartToggles(const std::vector<model::ProviderKind>& signedIn) {
    ProviderToggles toggles;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        toggles[std::string(model::rawValue(kind))] =
            signedIn.empty() ? ProviderPreferences::isEnabledByDefault(kind)
                             : std::find(signedIn.begin(), signedIn.end(), kind) != signedIn.end();
    }
    return toggles;
}

bool storeFirstStartToggles(platform::SettingsStore& store,
                            const std::function<bool(model::ProviderKind)>& hasSignIn) {
    if (isStored(store, settings::providerToggles)) return false;
    std::vector<model::ProviderKind> signedIn;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        if (hasSignIn(kind)) signedIn.push_back(kind);
    }
    write(store, settings::providerToggles, firstStartToggles(signedIn));
    return true;
}

}  // namespace kestrane::app
