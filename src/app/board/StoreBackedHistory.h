#pragma once

#include "app/board/BoardHistory.h"
#include "history/UsageHistoryStore.h"
#include "platform/Clock.h"

namespace kestrane::app {

// The history kept on disk. Records with the machine's clock beside each snapshot's own date.
class StoreBackedHistory final : public BoardHistory {
  public:
    StoreBackedHistory(history::UsageHistoryStore& store, const platform::Clock& clock)
        : store_(store), clock_(clock) {}
    void pruneExpired(platform::Date now) override;
    void record(const std::vector<model::ProviderUsage>& usages) override;
    std::optional<std::string> persistenceError() const override;
    std::optional<history::UsageSeries> series(model::ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date now) const override;
    std::optional<history::RhythmHistory> rhythm(model::ProviderKind provider,
                                                 const model::LimitWindow& window) const override;
    void setCalendar(platform::Calendar calendar) override;

  private:
    history::UsageHistoryStore& store_;
    const platform::Clock& clock_;
};

}  // namespace kestrane::app
