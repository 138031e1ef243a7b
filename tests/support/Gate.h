#pragma once

#include <condition_variable>
#include <mutex>

namespace kestrane::testing {

// Holds back the threads that wait on it until the test opens it. A fake fetch that must
// outlive the test's frame (a worker left behind at its deadline) shares ownership of it.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

}  // namespace kestrane::testing
