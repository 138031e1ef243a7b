#pragma once

#include <map>
#include <vector>

#include "app/board/ProviderState.h"
#include "app/board/UsageHistory.h"
#include "model/ProviderKind.h"
#include "platform/Date.h"

namespace kestrane::app {

// Where the running application leaves its last known state for `kestrane --status`.
class StatusPublisher {
  public:
    virtual ~StatusPublisher() = default;
    // After every refresh and every switch of a provider. `history` gives the forecasts.
    virtual void publish(const std::vector<model::ProviderKind>& enabled,
                         const std::map<model::ProviderKind, ProviderState>& states,
                         const UsageHistory& history, platform::Date now) = 0;
    // At the end: no instance runs any more.
    virtual void withdraw() = 0;
};

}  // namespace kestrane::app
