#pragma once

#include "app/UsageHistory.h"
#include "history/UsageHistoryStore.h"

namespace kestrane::app {

// The history kept on disk.
class StoredUsageHistory final : public UsageHistory {
  public:
    explicit StoredUsageHistory(history::UsageHistoryStore& store) : store_(store) {}
    void pruneExpired(platform::Date now) override;
    void record(const model::ProviderUsage& usage) override;
    std::optional<std::string> persistenceError() const override;
    std::optional<history::UsageSeries> series(model::ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date now) const override;
    std::optional<history::RhythmHistory> rhythm(model::ProviderKind provider,
                                                 const model::LimitWindow& window) const override;

  private:
    history::UsageHistoryStore& store_;
};

}  // namespace kestrane::app
