#include "app/desktop/TrayToolTip.h"

#include "model/DateFormatting.h"

namespace kestrane::app {

std::string trayToolTip(model::ProviderKind provider, const std::string& shownValue,
                        const std::optional<model::ProviderUsage>& usage,
                        const std::optional<std::string>& error,
                        const platform::Calendar& calendar) {
    std::string text(model::rawValue(provider));
    const bool hasWindow = usage && !usage->windows.empty();
    if (hasWindow) {
        const model::LimitWindow& window = usage->windows.front();
        text += ": осталось " + shownValue;
        if (const std::string title = window.periodTitle(); !title.empty()) {
            text += " (" + title + ")";
        }
        text += window.resetsAt
                    ? "\nСброс " + model::DateFormatting::reset(*window.resetsAt, calendar)
                    : "\nВремя сброса не указано сервисом";
    } else if (!error) {
        text += ": нет данных";
    }
    if (error) text += (hasWindow ? "\n" : ": ") + *error;
    return text;
}

}  // namespace kestrane::app
