#include "platform/Workspace.h"

namespace kestrane::platform {
namespace {

// The macOS port asks NSWorkspace here (running applications, and URLForApplication…).
class BundleWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> runningApplications() const override { return {}; }
    std::optional<std::filesystem::path> applicationLocation(std::string_view) const override {
        return std::nullopt;
    }
};

}  // namespace

const Workspace& systemWorkspace() {
    static const BundleWorkspace workspace;
    return workspace;
}

}  // namespace kestrane::platform
