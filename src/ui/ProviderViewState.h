#pragma once

#include <map>
#include <optional>
#include <string>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"

namespace kestrane::ui {

// What the panel shows of one provider.
struct ProviderViewState {
    model::ProviderKind provider = model::ProviderKind::codex;
    bool isEnabled = false;
    std::optional<model::ProviderUsage> usage;
    std::optional<std::string> error;
    // Keyed by window id.
    std::map<std::string, history::RhythmHistory> rhythms;
    std::map<std::string, history::UsageSeries> history;
    bool operator==(const ProviderViewState&) const = default;
};

}  // namespace kestrane::ui
