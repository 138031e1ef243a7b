#pragma once

#include <optional>
#include <string>
#include <vector>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/LimitWindow.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::app {

// What the board needs of the usage history.
class BoardHistory {
  public:
    virtual ~BoardHistory() = default;
    virtual void pruneExpired(platform::Date now) = 0;
    // One refresh's successful usages, written at most once.
    virtual void record(const std::vector<model::ProviderUsage>& usages) = 0;
    virtual std::optional<std::string> persistenceError() const = 0;
    virtual std::optional<history::UsageSeries> series(model::ProviderKind provider,
                                                       const model::LimitWindow& window,
                                                       platform::Date now) const = 0;
    virtual std::optional<history::RhythmHistory> rhythm(
        model::ProviderKind provider, const model::LimitWindow& window) const = 0;
    // The system's time zone changed: hours are learned and offered in this calendar from now.
    virtual void setCalendar(platform::Calendar calendar) = 0;
};

}  // namespace kestrane::app
