#pragma once

#include <functional>
#include <vector>

#include "app/settings/Settings.h"
#include "model/ProviderKind.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// The provider toggles a first start stores: on for the providers whose sign-in was found on
// this machine, off for the rest; the defaults (ProviderPreferences::isEnabledByDefault) when
// none was found. Every provider gets an entry, so what was decided stays decided.
ProviderToggles firstStartToggles(const std::vector<model::ProviderKind>& signedIn);

// When nothing at all is stored under the toggles' key, asks `hasSignIn` about each provider
// (in canonical order) and stores firstStartToggles of the answers. Anything stored, even a
// value that does not read, is the user's and is left alone without asking. Returns whether
// it stored.
bool storeFirstStartToggles(platform::SettingsStore& store,
                            const std::function<bool(model::ProviderKind)>& hasSignIn);

}  // namespace kestrane::app
