#include "history/UsageSeries.h"

namespace kestrane::history {

std::string_view rawValue(UsageTransition::Kind kind) {
    switch (kind) {
        case UsageTransition::Kind::reset:
            return "reset";
        case UsageTransition::Kind::correction:
            return "correction";
        case UsageTransition::Kind::periodChange:
            return "periodChange";
    }
    return {};
}

std::optional<UsageTransition::Kind> transitionKindFromRawValue(std::string_view text) {
    for (const auto kind : {UsageTransition::Kind::reset, UsageTransition::Kind::correction,
                            UsageTransition::Kind::periodChange}) {
        if (rawValue(kind) == text) return kind;
    }
    return std::nullopt;
}

}  // namespace kestrane::history
