#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/settings/NotificationThresholds.h"
#include "model/ProviderKind.h"
#include "platform/SettingsStore.h"

namespace kestrane::app {

// Which tint the tray icons take: following the desktop, or always light (for dark panels)
// or always dark (for light ones). Panels that the desktop's colour scheme does not describe
// (a dark bar on a light desktop) need the user's word.
enum class TrayIconStyle { automatic, light, dark };

// How the panel looks: as the desktop says (the portal's colour scheme, else the palette), or
// always light or always dark. Many desktops never put their dark scheme into Qt's palette,
// and some users want the panel unlike the rest of their desktop.
enum class PanelAppearance { system, light, dark };

// A configuration folder the user added as another account of a provider (Claude, Codex).
struct AddedAccountFolder {
    model::ProviderKind provider = model::ProviderKind::claude;
    std::string path;

    bool operator==(const AddedAccountFolder&) const = default;
};
using AccountFolders = std::vector<AddedAccountFolder>;
// Accounts by their storage name (model::storageName): "Claude", "Claude#3f9a0c1e2b4d5a67".
using AccountNames = std::vector<std::string>;
using AccountLabels = std::map<std::string, std::string, std::less<>>;

// The provider toggles as stored: raw value → switched on. Entries this build does not know
// (another build's providers, another spelling) are kept, so writing one toggle drops none.
using ProviderToggles = std::map<std::string, bool, std::less<>>;

// One stored preference. The key is the stored name and never changes: files written by
// every earlier build must keep reading. `fallback` is what the setting reads as while
// nothing is stored, and also when `decode` refuses the stored value (another type, out of
// range, edited by hand): a bad value is never an error, just the fallback.
template <class T>
struct Setting {
    using Value = T;

    std::string_view key;
    T (*fallback)();
    std::optional<T> (*decode)(const platform::Json& stored);
    platform::Json (*encode)(const T& value);
};

template <class T>
T read(const platform::SettingsStore& store, const Setting<T>& setting) {
    if (const auto stored = store.value(setting.key)) {
        if (auto value = setting.decode(*stored)) return std::move(*value);
    }
    return setting.fallback();
}

template <class T>
void write(platform::SettingsStore& store, const Setting<T>& setting,
           const std::type_identity_t<T>& value) {
    store.setValue(setting.key, setting.encode(value));
}

// Whether anything is stored under the setting's key, readable or not.
template <class T>
bool isStored(const platform::SettingsStore& store, const Setting<T>& setting) {
    return store.value(setting.key).has_value();
}

namespace settings {

// How stored values are checked. Each gives nullopt for a value the setting must not take.
std::optional<ProviderToggles> decodeToggles(const platform::Json& stored);
std::optional<std::optional<model::ProviderKind>> decodeProvider(const platform::Json& stored);
std::optional<bool> decodeBoolean(const platform::Json& stored);
// Whole numbers from 1 to 99.
std::optional<int> decodePercent(const platform::Json& stored);
// Exactly "automatic", "light" or "dark".
std::optional<TrayIconStyle> decodeTrayIconStyle(const platform::Json& stored);
// Exactly "system", "light" or "dark".
std::optional<PanelAppearance> decodePanelAppearance(const platform::Json& stored);
// Arrays and objects of the account settings: an entry that is not what it should be (another
// type, an unknown provider, an empty or over-long text) is left out, the others stay; at
// most maximumAccountEntries of them.
inline constexpr std::size_t maximumAccountEntries = 64;
std::optional<AccountFolders> decodeAccountFolders(const platform::Json& stored);
std::optional<AccountNames> decodeAccountNames(const platform::Json& stored);
std::optional<AccountLabels> decodeAccountLabels(const platform::Json& stored);

platform::Json encodeToggles(const ProviderToggles& toggles);
// The raw value; null for no provider.
platform::Json encodeProvider(const std::optional<model::ProviderKind>& provider);
platform::Json encodeTrayIconStyle(const TrayIconStyle& style);
platform::Json encodePanelAppearance(const PanelAppearance& appearance);
platform::Json encodeAccountFolders(const AccountFolders& folders);
platform::Json encodeAccountNames(const AccountNames& names);
platform::Json encodeAccountLabels(const AccountLabels& labels);
template <class T>
platform::Json encodePlain(const T& value) {
    return platform::Json(value);
}

// Every stored preference, one row each.

// Which providers are switched on. A dictionary with one value that is not a boolean is
// unreadable as a whole; a provider without an entry takes
// ProviderPreferences::isEnabledByDefault.
inline constexpr Setting<ProviderToggles> providerToggles{
    .key = "providerTogglesV1",
    .fallback = [] { return ProviderToggles{}; },
    .decode = decodeToggles,
    .encode = encodeToggles,
};

// The provider the panel shows; a name that is not exactly a raw value selects none.
inline constexpr Setting<std::optional<model::ProviderKind>> selectedProvider{
    .key = "selectedProvider",
    .fallback = [] { return std::optional<model::ProviderKind>(); },
    .decode = decodeProvider,
    .encode = encodeProvider,
};

// The panel's chart shows the burn rate instead of what remains.
inline constexpr Setting<bool> chartShowsBurn{
    .key = "chartShowsBurn",
    .fallback = [] { return false; },
    .decode = decodeBoolean,
    .encode = encodePlain<bool>,
};

// Desktop notifications: on unless switched off.
inline constexpr Setting<bool> notificationsEnabled{
    .key = "notificationsEnabled",
    .fallback = [] { return true; },
    .decode = decodeBoolean,
    .encode = encodePlain<bool>,
};

// The two remaining shares that are told about, in whole percent.
inline constexpr Setting<int> notifyBelowPercent{
    .key = "notifyBelowPercent",
    .fallback = [] { return NotificationThresholds{}.low; },
    .decode = decodePercent,
    .encode = encodePlain<int>,
};
inline constexpr Setting<int> notifyCriticalPercent{
    .key = "notifyCriticalPercent",
    .fallback = [] { return NotificationThresholds{}.critical; },
    .decode = decodePercent,
    .encode = encodePlain<int>,
};

inline constexpr Setting<TrayIconStyle> trayIconStyle{
    .key = "trayIconStyle",
    .fallback = [] { return TrayIconStyle::automatic; },
    .decode = decodeTrayIconStyle,
    .encode = encodeTrayIconStyle,
};

inline constexpr Setting<PanelAppearance> panelAppearance{
    .key = "panelAppearance",
    .fallback = [] { return PanelAppearance::system; },
    .decode = decodePanelAppearance,
    .encode = encodePanelAppearance,
};

// Folders the user added as further accounts (the found ones need no entry).
inline constexpr Setting<AccountFolders> accountFolders{
    .key = "accountFolders",
    .fallback = [] { return AccountFolders{}; },
    .decode = decodeAccountFolders,
    .encode = encodeAccountFolders,
};

// Found accounts the user does not want to see.
inline constexpr Setting<AccountNames> hiddenAccounts{
    .key = "hiddenAccounts",
    .fallback = [] { return AccountNames{}; },
    .decode = decodeAccountNames,
    .encode = encodeAccountNames,
};

// The names the user gave accounts, over what the provider or the folder says.
inline constexpr Setting<AccountLabels> accountLabels{
    .key = "accountLabels",
    .fallback = [] { return AccountLabels{}; },
    .decode = decodeAccountLabels,
    .encode = encodeAccountLabels,
};

// One tray icon per provider for all its accounts (the lowest remaining share), instead of
// one per account.
inline constexpr Setting<bool> combinedAccountIcons{
    .key = "combinedAccountIcons",
    .fallback = [] { return false; },
    .decode = decodeBoolean,
    .encode = encodePlain<bool>,
};

// Every key above; no two settings share one.
inline constexpr std::array allKeys{
    providerToggles.key,    selectedProvider.key,      chartShowsBurn.key, notificationsEnabled.key,
    notifyBelowPercent.key, notifyCriticalPercent.key, trayIconStyle.key,  panelAppearance.key,
    accountFolders.key,     hiddenAccounts.key,        accountLabels.key,  combinedAccountIcons.key,
};

}  // namespace settings

}  // namespace kestrane::app
