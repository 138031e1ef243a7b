#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Json.h"

namespace kestrane::platform {

// The per-user preference store (user defaults). Values are JSON values so that a stored
// value of an unexpected type stays visible as such to the reader, which decides what an
// unreadable value means.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // Nothing when the key was never written.
    virtual std::optional<Json> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, const Json& value) = 0;
};

// A store that lives in memory only: tests, and a process that must not touch the user's
// settings.
class MemorySettingsStore final : public SettingsStore {
  public:
    std::optional<Json> value(std::string_view key) const override {
        const auto found = values_.find(std::string(key));
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }
    void setValue(std::string_view key, const Json& value) override {
        values_[std::string(key)] = value;
    }

  private:
    std::map<std::string, Json> values_;
};

}  // namespace kestrane::platform
