#include "app/board/ProviderState.h"

#include <algorithm>

namespace kestrane::app {

std::string remainingText(const ProviderState& state) {
    if (state.usage && !state.usage->windows.empty()) {
        const double remaining = 100 - state.usage->windows.front().usedPercent;
        const long long value =
            remaining < 100 ? model::roundedPercent(std::max(remaining, 0.0)) : 100;
        return std::to_string(value) + "%";
    }
    if (state.error) return "!";
    return "--";
}

}  // namespace kestrane::app
