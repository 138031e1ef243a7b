#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/SecretStore.h"

namespace kestrane::testing {

// A keyring in memory. `status` stands for the state of the whole keyring: anything but ok
// makes every call answer with it, as a locked or missing Secret Service would.
class MemorySecretStore final : public platform::SecretStore {
  public:
    Status status = Status::ok;

    Lookup lookup(std::string_view provider) const override {
        const std::lock_guard lock(mutex_);
        ++lookups_;
        if (status != Status::ok) return {status, {}};
        const auto it = items_.find(provider);
        if (it == items_.end()) return {Status::notFound, {}};
        return {Status::ok, it->second.secret};
    }
    Status store(std::string_view provider, std::string_view label,
                 std::string_view secret) const override {
        const std::lock_guard lock(mutex_);
        if (status != Status::ok) return status;
        items_[std::string(provider)] = {std::string(label), std::string(secret)};
        return Status::ok;
    }
    Status remove(std::string_view provider) const override {
        const std::lock_guard lock(mutex_);
        if (status != Status::ok) return status;
        if (const auto it = items_.find(provider); it != items_.end()) items_.erase(it);
        return Status::ok;
    }

    // What is stored for `provider` and under which label; empty when nothing.
    std::string secretOf(std::string_view provider) const {
        const std::lock_guard lock(mutex_);
        const auto it = items_.find(provider);
        return it == items_.end() ? std::string() : it->second.secret;
    }
    std::string labelOf(std::string_view provider) const {
        const std::lock_guard lock(mutex_);
        const auto it = items_.find(provider);
        return it == items_.end() ? std::string() : it->second.label;
    }
    int lookups() const {
        const std::lock_guard lock(mutex_);
        return lookups_;
    }

  private:
    struct Item {
        std::string label;
        std::string secret;
    };
    mutable std::mutex mutex_;
    mutable std::map<std::string, Item, std::less<>> items_;
    mutable int lookups_ = 0;
};

}  // namespace kestrane::testing
