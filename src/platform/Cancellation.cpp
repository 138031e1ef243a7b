#include "platform/Cancellation.h"

namespace kestrane::platform {

void Cancellation::cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_.store(true, std::memory_order_release);
    for (auto& [id, wake] : wakeUps_) wake();
}

int Cancellation::addWakeUp(std::function<void()> wake) {
    const std::lock_guard lock(mutex_);
    if (cancelled_.load(std::memory_order_acquire)) wake();
    const int id = nextId_++;
    wakeUps_.emplace(id, std::move(wake));
    return id;
}

void Cancellation::removeWakeUp(int id) {
    const std::lock_guard lock(mutex_);
    wakeUps_.erase(id);
}

}  // namespace kestrane::platform
