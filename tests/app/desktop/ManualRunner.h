#pragma once

#include <deque>
#include <functional>
#include <utility>

#include "app/desktop/BackgroundRunner.h"

namespace kestrane::testing {

// Background work waits until the test lets it run, then runs right here.
class ManualRunner {
  public:
    app::BackgroundRunner runner() {
        return [this](std::function<void()> work, std::function<void()> done) {
            jobs_.push_back({std::move(work), std::move(done)});
        };
    }
    std::size_t pending() const { return jobs_.size(); }
    void finishOne() {
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        job.first();
        job.second();
    }
    void finishAll() {
        while (!jobs_.empty()) finishOne();
    }

  private:
    std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs_;
};

}  // namespace kestrane::testing
