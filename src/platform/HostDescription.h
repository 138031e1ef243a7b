#pragma once

#include <string>
#include <string_view>

namespace kestrane::platform {

// How this machine describes itself to services that identify the device they serve.
struct HostDescription {
    // The network host name as the system reports it; may be empty or non-ASCII.
    std::string hostName;
    // The operating system's version as major.minor.patch, for example "6.1.0".
    std::string operatingSystemVersion;
    // System name, version and processor architecture: "Linux 6.1.0 x86_64".
    std::string deviceModel;

    bool operator==(const HostDescription&) const = default;
};

// Asks the running system (one call per use; the host name may change while we run).
HostDescription currentHost();

// The leading numeric components of a version text as exactly three decimal integers:
// "6.1.0-18-amd64" gives "6.1.0", "6.8-rc1" gives "6.8.0", text without digits "0.0.0".
std::string versionTriple(std::string_view version);

}  // namespace kestrane::platform
