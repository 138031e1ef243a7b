#pragma once

#include <cstdint>
#include <string>

#include "platform/Date.h"

namespace kestrane::model {

// A model seen in recent local sessions.
struct RecentModelContext {
    std::string model;
    std::int64_t sessionCount = 0;
    platform::Date lastSeenAt;

    bool operator==(const RecentModelContext&) const = default;
};

}  // namespace kestrane::model
