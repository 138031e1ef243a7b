#include <sys/utsname.h>
#include <unistd.h>

#include <climits>

#include "platform/HostDescription.h"

namespace kestrane::platform {

HostDescription currentHost() {
    HostDescription host;
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) == 0) host.hostName = name;

    struct utsname system {};
    std::string release;
    std::string machine;
    if (::uname(&system) == 0) {
        release = system.release;
        machine = system.machine;
    }
    host.operatingSystemVersion = versionTriple(release);
    host.deviceModel = "Linux " + host.operatingSystemVersion + " " + machine;
    return host;
}

}  // namespace kestrane::platform
