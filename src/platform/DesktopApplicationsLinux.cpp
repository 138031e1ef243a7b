#include "platform/DesktopApplications.h"

#include <fstream>
#include <string>

#include "platform/DesktopApplicationRules.h"

namespace kestrane::platform::DesktopApplications {

bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject) {
    return LinuxApplicationRules::hidesListener(lowerCommand, isRuntime, inProject);
}

bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime) {
    return LinuxApplicationRules::hidesBusyProcess(lowerCommand, isRuntime);
}

bool isDesktopSessionCgroup(std::string_view cgroups) {
    return LinuxApplicationRules::isDesktopSessionCgroup(cgroups);
}

bool isDesktopSessionService(pid_t pid) {
    if (pid < 1) return false;
    std::ifstream file("/proc/" + std::to_string(pid) + "/cgroup");
    if (!file) return false;
    // A few lines; anything much longer is not a cgroup list.
    std::string text(8192, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return isDesktopSessionCgroup(text);
}

}  // namespace kestrane::platform::DesktopApplications
