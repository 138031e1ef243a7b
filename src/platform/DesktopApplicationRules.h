#pragma once

#include <string_view>

namespace kestrane::platform {

// The rules behind DesktopApplications for each system, as plain text tests so that both
// can be checked on any machine. Arguments as in DesktopApplications.

namespace MacOSApplicationRules {
// Application bundles (".app/contents/"), except a Python framework for runtimes; the
// system's own folders.
bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject);
bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime);
}  // namespace MacOSApplicationRules

namespace LinuxApplicationRules {
// Programs in vendor trees (/usr/lib, /usr/libexec, /usr/share, /opt, /snap, Flatpak's /app,
// AppImage mounts /tmp/.mount_*), and Chromium or Electron helpers (--type=renderer, ...).
bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject);
bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime);
// See DesktopApplications::isDesktopSessionCgroup.
bool isDesktopSessionCgroup(std::string_view cgroups);
}  // namespace LinuxApplicationRules

}  // namespace kestrane::platform
