#include "app/ProviderPreferences.h"

namespace kestrane::app {

bool ProviderPreferences::isEnabledByDefault(model::ProviderKind kind) {
    return kind == model::ProviderKind::codex || kind == model::ProviderKind::cursor;
}

std::map<std::string, bool> ProviderPreferences::toggles() const {
    const auto stored = defaults_->value(togglesKey);
    if (!stored || !stored->is_object()) return {};
    std::map<std::string, bool> result;
    for (const auto& [key, value] : stored->items()) {
        // One value of another type makes the whole dictionary unreadable, not just its entry.
        if (!value.is_boolean()) return {};
        result[key] = value.get<bool>();
    }
    return result;
}

bool ProviderPreferences::isEnabled(model::ProviderKind kind) const {
    const auto stored = toggles();
    const auto found = stored.find(std::string(model::rawValue(kind)));
    return found != stored.end() ? found->second : isEnabledByDefault(kind);
}

std::vector<model::ProviderKind> ProviderPreferences::enabledProviders() const {
    const auto stored = toggles();
    std::vector<model::ProviderKind> result;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        const auto found = stored.find(std::string(model::rawValue(kind)));
        if (found != stored.end() ? found->second : isEnabledByDefault(kind)) {
            result.push_back(kind);
        }
    }
    return result;
}

void ProviderPreferences::setEnabled(bool enabled, model::ProviderKind kind) {
    auto stored = toggles();
    stored[std::string(model::rawValue(kind))] = enabled;
    platform::Json object = platform::Json::object();
    for (const auto& [key, value] : stored) object[key] = value;
    defaults_->setValue(togglesKey, object);
}

}  // namespace kestrane::app
