#include "app/settings/Settings.h"

#include <cstdint>

namespace kestrane::app::settings {

using platform::Json;

std::optional<ProviderToggles> decodeToggles(const Json& stored) {
    if (!stored.is_object()) return std::nullopt;
    ProviderToggles toggles;
    for (const auto& [name, value] : stored.items()) {
        // One value of another type makes the whole dictionary unreadable, not just its entry.
        if (!value.is_boolean()) return std::nullopt;
        toggles[name] = value.get<bool>();
    }
    return toggles;
}

std::optional<std::optional<model::ProviderKind>> decodeProvider(const Json& stored) {
    if (!stored.is_string()) return std::nullopt;
    const auto kind = model::providerKindFromRawValue(stored.get_ref<const std::string&>());
    if (!kind) return std::nullopt;
    return kind;
}

std::optional<bool> decodeBoolean(const Json& stored) {
    if (!stored.is_boolean()) return std::nullopt;
    return stored.get<bool>();
}

std::optional<int> decodePercent(const Json& stored) {
    if (!stored.is_number_integer()) return std::nullopt;
    if (stored.is_number_unsigned()) {
        const auto value = stored.get<std::uint64_t>();
        if (value < 1 || value > 99) return std::nullopt;
        return static_cast<int>(value);
    }
    const auto value = stored.get<std::int64_t>();
    if (value < 1 || value > 99) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<TrayIconStyle> decodeTrayIconStyle(const Json& stored) {
    if (!stored.is_string()) return std::nullopt;
    const auto& text = stored.get_ref<const std::string&>();
    if (text == "automatic") return TrayIconStyle::automatic;
    if (text == "light") return TrayIconStyle::light;
    if (text == "dark") return TrayIconStyle::dark;
    return std::nullopt;
}

std::optional<PanelAppearance> decodePanelAppearance(const Json& stored) {
    if (!stored.is_string()) return std::nullopt;
    const auto& text = stored.get_ref<const std::string&>();
    if (text == "system") return PanelAppearance::system;
    if (text == "light") return PanelAppearance::light;
    if (text == "dark") return PanelAppearance::dark;
    return std::nullopt;
}

Json encodeToggles(const ProviderToggles& toggles) {
    Json object = Json::object();
    for (const auto& [name, enabled] : toggles) object[name] = enabled;
    return object;
}

Json encodeProvider(const std::optional<model::ProviderKind>& provider) {
    if (!provider) return Json(nullptr);
    return Json(std::string(model::rawValue(*provider)));
}

Json encodeTrayIconStyle(const TrayIconStyle& style) {
    switch (style) {
        case TrayIconStyle::light:
            return Json("light");
        case TrayIconStyle::dark:
            return Json("dark");
        case TrayIconStyle::automatic:
            break;
    }
    return Json("automatic");
}

Json encodePanelAppearance(const PanelAppearance& appearance) {
    switch (appearance) {
        case PanelAppearance::light:
            return Json("light");
        case PanelAppearance::dark:
            return Json("dark");
        case PanelAppearance::system:
            break;
    }
    return Json("system");
}

namespace {

// An account setting's text: a non-empty string of at most `maximum` bytes.
std::optional<std::string> accountText(const Json& value, std::size_t maximum) {
    if (!value.is_string()) return std::nullopt;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() > maximum) return std::nullopt;
    return text;
}

constexpr std::size_t maximumPathBytes = 4096;
constexpr std::size_t maximumNameBytes = 256;

}  // namespace

std::optional<AccountFolders> decodeAccountFolders(const Json& stored) {
    if (!stored.is_array()) return std::nullopt;
    AccountFolders folders;
    for (const Json& entry : stored) {
        if (folders.size() == maximumAccountEntries) break;
        if (!entry.is_object()) continue;
        const auto provider = entry.find("provider");
        const auto path = entry.find("path");
        if (provider == entry.end() || path == entry.end() || !provider->is_string()) continue;
        const auto kind = model::providerKindFromRawValue(provider->get_ref<const std::string&>());
        const auto text = accountText(*path, maximumPathBytes);
        if (kind && text) folders.push_back({*kind, *text});
    }
    return folders;
}

std::optional<AccountNames> decodeAccountNames(const Json& stored) {
    if (!stored.is_array()) return std::nullopt;
    AccountNames names;
    for (const Json& entry : stored) {
        if (names.size() == maximumAccountEntries) break;
        if (const auto name = accountText(entry, maximumNameBytes)) names.push_back(*name);
    }
    return names;
}

std::optional<AccountLabels> decodeAccountLabels(const Json& stored) {
    if (!stored.is_object()) return std::nullopt;
    AccountLabels labels;
    for (const auto& [name, value] : stored.items()) {
        if (labels.size() == maximumAccountEntries) break;
        if (name.empty() || name.size() > maximumNameBytes) continue;
        if (const auto label = accountText(value, maximumNameBytes)) labels[name] = *label;
    }
    return labels;
}

Json encodeAccountFolders(const AccountFolders& folders) {
    Json array = Json::array();
    for (const AddedAccountFolder& folder : folders) {
        array.push_back(
            {{"provider", std::string(model::rawValue(folder.provider))}, {"path", folder.path}});
    }
    return array;
}

Json encodeAccountNames(const AccountNames& names) { return Json(names); }

Json encodeAccountLabels(const AccountLabels& labels) {
    Json object = Json::object();
    for (const auto& [name, label] : labels) object[name] = label;
    return object;
}

}  // namespace kestrane::app::settings
