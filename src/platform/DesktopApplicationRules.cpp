#include "platform/DesktopApplicationRules.h"

#include <array>

#include "platform/UnicodeText.h"

namespace kestrane::platform {

namespace MacOSApplicationRules {
namespace {

constexpr std::string_view kBundleMarker = ".app/contents/";
// A Python framework inside a bundle is what developers run their scripts with.
constexpr std::string_view kPythonFrameworkMarker = "/python.framework/";

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject) {
    const bool inBundle = contains(lowerCommand, kBundleMarker);
    if (isRuntime) {
        // A runtime inside an application is usually the application's own helper.
        return inBundle && !contains(lowerCommand, kPythonFrameworkMarker) && !inProject;
    }
    return inBundle || lowerCommand.starts_with("/system/") ||
           lowerCommand.starts_with("/usr/libexec/");
}

bool hidesBusyProcess(std::string_view lowerCommand, bool) {
    return contains(lowerCommand, kBundleMarker) && !contains(lowerCommand, kPythonFrameworkMarker);
}

}  // namespace MacOSApplicationRules

namespace LinuxApplicationRules {
namespace {

// Where distributions and application stores put programs that are not meant to be run by
// hand: a program started from here is an application or a part of the system.
constexpr std::array<std::string_view, 7> kVendorTrees{
    "/usr/lib/", "/usr/libexec/", "/usr/share/", "/opt/", "/snap/", "/app/", "/tmp/.mount_",
};

// Chromium and Electron start their helpers with the program of the application itself and
// a --type= naming the helper's job.
constexpr std::array<std::string_view, 8> kHelperTypes{
    "renderer", "zygote",           "gpu-process", "utility",
    "broker",   "crashpad-handler", "ppapi",       "ppapi-broker",
};

bool isVendorProgram(std::string_view lowerCommand) {
    const auto [start, end] = nextWord(lowerCommand, 0);
    const std::string_view program = lowerCommand.substr(start, end - start);
    for (const auto tree : kVendorTrees) {
        if (program.starts_with(tree)) return true;
    }
    return false;
}

bool isBrowserHelper(std::string_view lowerCommand) {
    constexpr std::string_view kOption = " --type=";
    for (auto at = lowerCommand.find(kOption); at != std::string_view::npos;
         at = lowerCommand.find(kOption, at + 1)) {
        const std::string_view value = lowerCommand.substr(at + kOption.size());
        const auto [start, end] = nextWord(value, 0);
        if (start != 0) continue;
        for (const auto type : kHelperTypes) {
            if (value.substr(0, end) == type) return true;
        }
    }
    return false;
}

}  // namespace

bool hidesListener(std::string_view lowerCommand, bool isRuntime, bool inProject) {
    if (isBrowserHelper(lowerCommand)) return true;
    // /usr/lib/jvm/.../java or /opt/node/bin/node serving a project is still a dev server.
    if (isRuntime) return isVendorProgram(lowerCommand) && !inProject;
    return isVendorProgram(lowerCommand);
}

bool hidesBusyProcess(std::string_view lowerCommand, bool isRuntime) {
    if (isBrowserHelper(lowerCommand)) return true;
    return !isRuntime && isVendorProgram(lowerCommand);
}

bool isDesktopSessionCgroup(std::string_view cgroups) {
    std::size_t lineStart = 0;
    while (lineStart < cgroups.size()) {
        auto lineEnd = cgroups.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = cgroups.size();
        const std::string_view line = cgroups.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        // "0::/user.slice/user-1000.slice/user@1000.service/session.slice/pipewire.service"
        const auto manager = line.find("/user@");
        if (manager == std::string_view::npos) continue;
        std::string_view path = line.substr(manager + 1);
        const auto slash = path.find('/');
        if (slash == std::string_view::npos) continue;
        if (!path.substr(0, slash).ends_with(".service")) continue;
        path.remove_prefix(slash + 1);
        if (path == "init.scope") return true;
        const std::string_view unit = path.substr(path.rfind('/') + 1);
        if (unit.ends_with(".service")) return true;
    }
    return false;
}

}  // namespace LinuxApplicationRules

}  // namespace kestrane::platform
