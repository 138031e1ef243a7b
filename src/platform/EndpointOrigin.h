#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Environment.h"

namespace kestrane::platform {

// Where a provider's HTTP endpoints live: "scheme://host[:port]". Each client has a default
// that an environment variable may override (for tests, and for people behind proxies).
struct EndpointOrigin {
    std::string origin;
    // Set when the override is unusable; the provider then fails with this text.
    std::optional<std::string> error;

    bool operator==(const EndpointOrigin&) const = default;
};

// Plain http is accepted only for 127.0.0.1, ::1 and localhost, so a bearer token never
// crosses a network in clear text. A trailing slash is dropped; paths, queries, user
// information and anything else make the override invalid.
EndpointOrigin resolveOrigin(const Environment& environment, std::string_view variable,
                             std::string_view defaultOrigin);

// True for "127.0.0.1", "localhost" and "::1" (bracketed or not).
bool isLoopbackHost(std::string_view host);

}  // namespace kestrane::platform
