#pragma once

#include <string>

namespace kestrane::platform {

// Absolute paths of the system's process-inspection tools. Each system installs them in its
// own place, so callers never spell the paths themselves.
std::string lsofExecutable();
std::string psExecutable();

}  // namespace kestrane::platform
