#pragma once

#include <optional>
#include <string>
#include <vector>

#include "history/UsageHistoryStore.h"
#include "model/LimitWindow.h"
#include "model/ProviderUsage.h"
#include "platform/Date.h"

namespace kestrane::history::test {

// 2025-03-10T12:00:00Z, a Monday.
inline constexpr platform::Date kNoon{1'741'608'000};

inline model::LimitWindow window(std::string id, double used,
                                 std::optional<platform::Date> resetsAt = std::nullopt,
                                 std::optional<std::int64_t> minutes = 300) {
    return model::LimitWindow{.id = std::move(id),
                              .name = "",
                              .usedPercent = used,
                              .durationMinutes = minutes,
                              .resetsAt = resetsAt};
}

inline model::ProviderUsage usage(platform::Date at, std::vector<model::LimitWindow> windows,
                                  model::ProviderKind provider = model::ProviderKind::claude,
                                  std::optional<std::string> email = "user@example.com",
                                  std::optional<std::string> plan = "Pro") {
    model::ProviderUsage result;
    result.provider = provider;
    result.email = std::move(email);
    result.plan = std::move(plan);
    result.windows = std::move(windows);
    result.updatedAt = at;
    return result;
}

// Records a snapshot the way a live fetch does: the machine's clock reads its own date.
inline void recordNow(UsageHistoryStore& store, const model::ProviderUsage& snapshot) {
    store.record(snapshot, snapshot.updatedAt);
}

}  // namespace kestrane::history::test
