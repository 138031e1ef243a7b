#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/LimitWindow.h"
#include "model/ProviderKind.h"
#include "model/RecentModelContext.h"
#include "platform/Date.h"

namespace kestrane::model {

// One successful fetch of one provider.
struct ProviderUsage {
    ProviderKind provider = ProviderKind::codex;
    // Which of the provider's accounts answered (AccountKey::id): empty for the default one.
    std::string accountID;
    std::optional<std::string> email;
    std::optional<std::string> plan;
    // The first window is the provider's primary one (badge, compact text). May be empty.
    std::vector<LimitWindow> windows;
    std::optional<double> spendUsed;
    std::optional<double> spendLimit;
    // Unit of the two amounts as display text: a currency code, or "кредиты".
    std::optional<std::string> currency;
    platform::Date updatedAt;
    std::vector<RecentModelContext> recentModels;

    bool operator==(const ProviderUsage&) const = default;
};

// Shown percentages: nearest integer, halves away from zero; NaN reads as 0.
long long roundedPercent(double percent);

}  // namespace kestrane::model
