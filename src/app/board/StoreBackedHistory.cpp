#include "app/board/StoreBackedHistory.h"

namespace kestrane::app {

void StoreBackedHistory::pruneExpired(platform::Date now) { store_.pruneExpired(now); }

void StoreBackedHistory::record(const std::vector<model::ProviderUsage>& usages) {
    store_.record(usages, clock_.now());
}

std::optional<std::string> StoreBackedHistory::persistenceError() const {
    return store_.persistenceError();
}

std::optional<history::UsageSeries> StoreBackedHistory::series(model::ProviderKind provider,
                                                               const model::LimitWindow& window,
                                                               platform::Date now) const {
    return store_.series(provider, window, now);
}

std::optional<history::RhythmHistory> StoreBackedHistory::rhythm(
    model::ProviderKind provider, const model::LimitWindow& window) const {
    return store_.rhythm(provider, window);
}

void StoreBackedHistory::setCalendar(platform::Calendar calendar) {
    store_.setCalendar(std::move(calendar));
}

}  // namespace kestrane::app
