#pragma once

#include <optional>
#include <string>

#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"

namespace kestrane::ui {

// What the panel shows of one provider. Its windows' history and forecasts are the board's
// (see PanelContent::setOutlooks).
struct ProviderViewState {
    model::ProviderKind provider = model::ProviderKind::codex;
    bool isEnabled = false;
    std::optional<model::ProviderUsage> usage;
    std::optional<std::string> error;
    bool operator==(const ProviderViewState&) const = default;
};

}  // namespace kestrane::ui
