#pragma once

#include <string>
#include <string_view>

namespace kestrane::platform {

// The system's secret store, asked without ever showing a prompt to the user.
class Keychain {
  public:
    enum class Status {
        found,
        // No item, or one that would need the user's consent: treated alike, silently.
        notFound,
        failed,
    };
    struct Lookup {
        Status status = Status::notFound;
        std::string data;
    };

    virtual ~Keychain() = default;
    virtual Lookup genericPassword(std::string_view service) const = 0;
};

// The keychain of this system. On Linux there is none that the provider tools use, so
// every lookup finds nothing.
const Keychain& systemKeychain();

}  // namespace kestrane::platform
