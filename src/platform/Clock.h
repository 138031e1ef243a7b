#pragma once

#include "platform/Date.h"

namespace kestrane::platform {

// The source of "now". Code never reads the wall clock itself, so tests can fix the time.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

class SystemClock final : public Clock {
  public:
    Date now() const override;
};

}  // namespace kestrane::platform
