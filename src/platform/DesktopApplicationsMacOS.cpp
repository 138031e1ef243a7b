#include "platform/DesktopApplications.h"

#include "platform/DesktopApplicationRules.h"

namespace kestrane::platform::DesktopApplications {

bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject) {
    return MacOSApplicationRules::hidesListener(lowerCommand, isRuntime, inProject);
}

bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime) {
    return MacOSApplicationRules::hidesBusyProcess(lowerCommand, isRuntime);
}

// Session agents are told apart by name (the classifier's hidden names).
bool isDesktopSessionService(pid_t) { return false; }

bool isDesktopSessionCgroup(std::string_view) { return false; }

}  // namespace kestrane::platform::DesktopApplications
