#include "platform/Workspace.h"

namespace kestrane::platform {
namespace {

// Linux desktops have no application bundles: provider tools live on PATH and in the
// usual command folders.
class NoWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> runningApplications() const override { return {}; }
    std::optional<std::filesystem::path> applicationLocation(std::string_view) const override {
        return std::nullopt;
    }
};

}  // namespace

const Workspace& systemWorkspace() {
    static const NoWorkspace workspace;
    return workspace;
}

}  // namespace kestrane::platform
