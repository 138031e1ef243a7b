#pragma once

#include <atomic>

#include "platform/Clock.h"

namespace kestrane::testing {

// A clock that shows whatever the test sets.
class FixedClock final : public platform::Clock {
  public:
    explicit FixedClock(platform::Date now = platform::Date{1'765'000'000})
        : seconds_(now.secondsSince1970) {}
    platform::Date now() const override { return platform::Date{seconds_.load()}; }
    void set(platform::Date now) { seconds_ = now.secondsSince1970; }
    void advance(double seconds) { seconds_ = seconds_.load() + seconds; }

  private:
    std::atomic<double> seconds_;
};

}  // namespace kestrane::testing
