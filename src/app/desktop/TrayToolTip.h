#pragma once

#include <optional>
#include <string>

#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"

namespace kestrane::app {

// The tool tip of one provider's tray icon, plain text: its name with the remaining share of
// the window the icon shows (`shownValue`, the icon's own text, so the two always agree),
// then when that window resets; the last failure on a line of its own; "нет данных" before
// anything arrived.
std::string trayToolTip(model::ProviderKind provider, const std::string& shownValue,
                        const std::optional<model::ProviderUsage>& usage,
                        const std::optional<std::string>& error,
                        const platform::Calendar& calendar);

}  // namespace kestrane::app
