#pragma once

#include "app/board/ProviderBoard.h"

namespace kestrane::app {

// Where the running application leaves its last known state for `kestrane --status`: it
// reads every snapshot of the board (after every refresh, switch and change of zone).
class StatusPublisher : public BoardObserver {
  public:
    // At the end: no instance runs any more.
    virtual void withdraw() = 0;
};

}  // namespace kestrane::app
