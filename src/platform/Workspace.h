#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane::platform {

// The desktop's view of application bundles: which ones run, and where an installed one
// lives. Only macOS has such bundles; elsewhere the lists are empty.
class Workspace {
  public:
    struct RunningApplication {
        std::optional<std::string> bundleIdentifier;
        std::optional<std::filesystem::path> bundleLocation;

        bool operator==(const RunningApplication&) const = default;
    };

    virtual ~Workspace() = default;
    // In the order the desktop reports them. The macOS implementation asks on the main
    // thread itself, so callers may be on any thread.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
    virtual std::optional<std::filesystem::path> applicationLocation(
        std::string_view bundleIdentifier) const = 0;
};

// The workspace of this system.
const Workspace& systemWorkspace();

}  // namespace kestrane::platform
