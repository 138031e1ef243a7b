#pragma once

#include <sys/types.h>

#include <string_view>

namespace kestrane::platform {

// Which of a user's processes belong to installed desktop applications, to the system or to
// the desktop session itself, rather than to something a developer started. Each system
// keeps its applications in its own places (bundles on macOS; vendor trees, AppImage mounts,
// Flatpak and Snap on Linux), so the services list asks here.
namespace DesktopApplications {

// A process that listens on TCP. `lowerCommand` is the lower-case command line; `isRuntime`
// says its program is a developer runtime (node, python3, ...), which is listed inside a
// project wherever it is installed; `inProject` that it works inside a project folder.
bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject);

// A busy process inside a project that listens on nothing.
bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime);

// A service of the user's desktop session (its sound server, portals, shell, agents). Such
// services run from ordinary system folders, so only their place in the session tells.
bool isDesktopSessionService(pid_t pid);

// The same judged from the text of /proc/<pid>/cgroup: a systemd user service or the user's
// service manager itself. Applications and terminals the user starts run in scopes instead.
bool isDesktopSessionCgroup(std::string_view cgroups);

}  // namespace DesktopApplications

}  // namespace kestrane::platform
