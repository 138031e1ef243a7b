#include "platform/ConfigurationDirectory.h"

namespace kestrane::platform {

std::filesystem::path configurationDirectory(const Environment& environment) {
    // A relative XDG_CONFIG_HOME is invalid by the base-directory rules and must be ignored.
    if (const auto configured = environment.value("XDG_CONFIG_HOME")) {
        const std::filesystem::path path(*configured);
        if (path.is_absolute()) return path;
    }
    return environment.homeDirectory() / ".config";
}

}  // namespace kestrane::platform
