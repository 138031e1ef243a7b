#pragma once

#include <string>

namespace kestrane::platform {

// Words of the interface that name the kind of computer, so that Linux never reads "Mac".

// Subtitle of the local services screen.
std::string localServicesSubtitle();

}  // namespace kestrane::platform
