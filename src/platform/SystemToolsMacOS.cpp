#include "platform/SystemTools.h"

namespace kestrane::platform {

std::string lsofExecutable() { return "/usr/sbin/lsof"; }

std::string psExecutable() { return "/bin/ps"; }

}  // namespace kestrane::platform
