#pragma once

#include <string>
#include <string_view>

namespace kestrane::platform {

// One generic-password item of the user's login keychain.
struct KeychainItem {
    enum class Status {
        found,
        // No item, or one that would need the user's consent: treated alike, silently.
        notFound,
        failed,
    };
    Status status = Status::notFound;
    std::string data;
};

// The item of `service`, asked without ever showing a prompt. Only macOS keeps the provider
// tools' sessions in such a keychain; on Linux they live in files, and this finds nothing.
KeychainItem keychainGenericPassword(std::string_view service);

}  // namespace kestrane::platform
