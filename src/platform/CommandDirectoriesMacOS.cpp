#include "platform/CommandDirectories.h"

namespace kestrane::platform {

std::optional<std::filesystem::path> npmPrefix(const Environment&) { return std::nullopt; }

std::vector<std::filesystem::path> packageCommandDirectories(const Environment&) {
    // Homebrew on Apple silicon, then on Intel Macs.
    return {"/opt/homebrew/bin", "/usr/local/bin"};
}

}  // namespace kestrane::platform
