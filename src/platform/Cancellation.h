#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace kestrane::platform {

// Lets one thread tell work running on another that its result is no longer wanted. The
// work checks isCancelled(), and a blocking wait registers a wake-up so that it ends at once
// rather than at its next time-out.
class Cancellation {
  public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // Safe from any thread, more than once; runs every registered wake-up.
    void cancel();
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // Registers `wake` until the returned id is passed to removeWakeUp. When cancel() comes
    // first, `wake` runs at once.
    int addWakeUp(std::function<void()> wake);
    void removeWakeUp(int id);

  private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::map<int, std::function<void()>> wakeUps_;
    int nextId_ = 0;
};

}  // namespace kestrane::platform
