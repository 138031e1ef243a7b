#include "platform/SystemTools.h"

#include <unistd.h>

namespace kestrane::platform {

std::string lsofExecutable() {
    // Debian installs lsof under /usr/bin; other distributions still use /usr/sbin.
    static const std::string path =
        ::access("/usr/bin/lsof", X_OK) == 0 ? "/usr/bin/lsof" : "/usr/sbin/lsof";
    return path;
}

std::string psExecutable() { return "/bin/ps"; }

}  // namespace kestrane::platform
