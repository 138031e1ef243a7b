#pragma once

#include "app/board/ProviderBoard.h"
#include "platform/Date.h"

namespace kestrane::app {

// Where the running application leaves its last known state for `kestrane --status`.
class StatusPublisher {
  public:
    virtual ~StatusPublisher() = default;
    // After every refresh and every switch of a provider: what the board holds now, with its
    // forecasts.
    virtual void publish(const ProviderBoard& board, platform::Date now) = 0;
    // At the end: no instance runs any more.
    virtual void withdraw() = 0;
};

}  // namespace kestrane::app
