#pragma once

#include <optional>
#include <string>

#include "model/ProviderUsage.h"

namespace kestrane::app {

// What the coordinator knows about one provider.
struct ProviderState {
    // The last successful fetch.
    std::optional<model::ProviderUsage> usage;
    // The failure text of the last fetch if it failed.
    std::optional<std::string> error;
    bool operator==(const ProviderState&) const = default;
};

}  // namespace kestrane::app

namespace kestrane::app {

// The compact value a tray icon shows: the first window's remaining percent ("37%"), "!"
// after a failure with nothing to show, "--" before anything is known.
std::string remainingText(const ProviderState& state);

}  // namespace kestrane::app
