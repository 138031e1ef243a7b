#include "app/board/StoredUsageHistory.h"

namespace kestrane::app {

void StoredUsageHistory::pruneExpired(platform::Date now) { store_.pruneExpired(now); }

void StoredUsageHistory::record(const std::vector<model::ProviderUsage>& usages) {
    store_.record(usages, clock_.now());
}

std::optional<std::string> StoredUsageHistory::persistenceError() const {
    return store_.persistenceError();
}

std::optional<history::UsageSeries> StoredUsageHistory::series(model::ProviderKind provider,
                                                               const model::LimitWindow& window,
                                                               platform::Date now) const {
    return store_.series(provider, window, now);
}

std::optional<history::RhythmHistory> StoredUsageHistory::rhythm(
    model::ProviderKind provider, const model::LimitWindow& window) const {
    return store_.rhythm(provider, window);
}

void StoredUsageHistory::setCalendar(platform::Calendar calendar) {
    store_.setCalendar(std::move(calendar));
}

}  // namespace kestrane::app
