#include "app/settings/ProviderPreferences.h"

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

namespace {

int storedPercent(const platform::PreferencesStore& defaults, std::string_view key, int fallback) {
    const auto stored = defaults.value(key);
    if (!stored || !stored->is_number_integer()) return fallback;
    const auto value = stored->get<std::int64_t>();
    return value >= 1 && value <= 99 ? static_cast<int>(value) : fallback;
}

}  // namespace

bool ProviderPreferences::notificationsEnabled() const {
    const auto stored = defaults_->value(notificationsEnabledKey);
    return !stored || !stored->is_boolean() || stored->get<bool>();
}

void ProviderPreferences::setNotificationsEnabled(bool enabled) {
    defaults_->setValue(notificationsEnabledKey, enabled);
}

NotificationThresholds ProviderPreferences::notificationThresholds() const {
    const NotificationThresholds defaults;
    return {storedPercent(*defaults_, notifyBelowPercentKey, defaults.low),
            storedPercent(*defaults_, notifyCriticalPercentKey, defaults.critical)};
}

void ProviderPreferences::setNotifyBelowPercent(int percent) {
    defaults_->setValue(notifyBelowPercentKey, percent);
}

void ProviderPreferences::setNotifyCriticalPercent(int percent) {
    defaults_->setValue(notifyCriticalPercentKey, percent);
}

}  // namespace kestrane::app
