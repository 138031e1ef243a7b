#pragma once

#include <string>

namespace kestrane::platform {

// Words of the interface that name the kind of computer, so that Linux never reads "Mac".

// Subtitle of the local services screen.
std::string localServicesSubtitle();

// Heading of the settings list of providers shown next to the clock (the tray on Linux, the
// menu bar on the Mac).
std::string trayServicesTitle();

// What a provider's switch in the settings does, for assistive technology.
std::string showInTrayLabel(const std::string& providerName);

}  // namespace kestrane::platform
