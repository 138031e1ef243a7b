#include "platform/DesktopApplicationRules.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/DesktopApplications.h"
#include "platform/PlatformWords.h"
#include "platform/ProcessCPUTime.h"

namespace kestrane::platform {
namespace {

struct ListenerCase {
    const char* label;
    const char* lowerCommand;
    bool runtime;
    bool inProject;
    bool hidden;
};

TEST(DesktopApplicationRulesTest, MacOSHidesBundlesAndSystemFolders) {
    const ListenerCase cases[] = {
        {"runtime inside a Python framework of a bundle",
         "/applications/xcode.app/contents/developer/library/frameworks/python3.framework/x "
         "/library/python.framework/versions/3.9/bin/python3",
         true, false, false},
        {"runtime inside an ordinary bundle without project",
         "/applications/editor.app/contents/resources/node server.js", true, false, true},
        {"runtime inside an ordinary bundle in a project",
         "/applications/editor.app/contents/resources/node server.js", true, true, false},
        {"system path", "/system/library/launchd", false, true, true},
        {"libexec path", "/usr/libexec/helper --x", false, true, true},
        {"non-runtime application bundle", "/applications/editor.app/contents/macos/x", false, true,
         true},
        {"ordinary program", "/usr/local/bin/caddy run", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(MacOSApplicationRules::hidesListener(c.lowerCommand, c.runtime, c.inProject),
                  c.hidden);
    }
    EXPECT_TRUE(
        MacOSApplicationRules::hidesBusyProcess("/applications/a.app/contents/macos/a", false));
    EXPECT_FALSE(MacOSApplicationRules::hidesBusyProcess(
        "/a.app/contents/frameworks/python.framework/python3", true));
    EXPECT_FALSE(MacOSApplicationRules::hidesBusyProcess("cc1plus x.cpp", false));
}

TEST(DesktopApplicationRulesTest, LinuxHidesVendorTreesHelpersAndKeepsRuntimesInProjects) {
    const ListenerCase cases[] = {
        {"browser under /opt", "/opt/browser/browser", false, true, true},
        {"program under /usr/lib", "/usr/lib/firefox/firefox", false, true, true},
        {"program under /usr/libexec", "/usr/libexec/gvfsd", false, true, true},
        {"Electron app under /usr/share", "/usr/share/code/code .", false, true, true},
        {"snap", "/snap/slack/1/usr/lib/slack/slack", false, true, true},
        {"flatpak", "/app/bin/zed", false, true, true},
        {"AppImage mount", "/tmp/.mount_cursorxyz/cursor", false, true, true},
        {"ordinary program in a project", "/usr/bin/caddy run", false, true, false},
        {"program from the home folder", "/home/dev/bin/server", false, true, false},
        {"runtime in /usr/bin", "/usr/bin/node server.js", true, false, false},
        {"vendor runtime in a project", "/usr/lib/jvm/java-17/bin/java -jar x", true, true, false},
        {"vendor runtime elsewhere", "/opt/editor/node server.js", true, false, true},
        {"the folder name alone is not the tree", "/opt", false, true, false},
        {"a tree named later in the command", "/usr/bin/python3 /usr/share/x.py", true, true,
         false},
        {"Chromium renderer", "/home/dev/chrome/chrome --type=renderer --lang=en", false, true,
         true},
        {"Electron zygote of a runtime", "/usr/bin/node x --type=zygote", true, true, true},
        {"other --type values are arguments", "/usr/bin/node cli.js --type=module", true, true,
         false},
        {"--type= glued to another word", "/usr/bin/node x.js --output-type=renderer", true, true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(LinuxApplicationRules::hidesListener(c.lowerCommand, c.runtime, c.inProject),
                  c.hidden);
    }
    // A busy process in a project: runtimes wherever installed, other programs not from
    // vendor trees, never a browser helper.
    EXPECT_FALSE(LinuxApplicationRules::hidesBusyProcess("/opt/node/bin/node build.js", true));
    EXPECT_TRUE(LinuxApplicationRules::hidesBusyProcess("/usr/lib/gcc/cc1plus x.cpp", false));
    EXPECT_FALSE(LinuxApplicationRules::hidesBusyProcess("/home/dev/bin/solver", false));
    EXPECT_TRUE(LinuxApplicationRules::hidesBusyProcess("/x/electron --type=gpu-process", true));
}

TEST(DesktopApplicationRulesTest, LinuxSessionServicesAreUserUnitsNotScopes) {
    const struct {
        const char* label;
        const char* cgroups;
        bool session;
    } cases[] = {
        {"sound server",
         "0::/user.slice/user-1000.slice/user@1000.service/session.slice/"
         "pipewire.service\n",
         true},
        {"portal",
         "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "xdg-desktop-portal.service\n",
         true},
        {"the user's service manager",
         "0::/user.slice/user-1000.slice/user@1000.service/init.scope\n", true},
        {"terminal child",
         "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
         "app-org.gnome.Terminal.slice/vte-spawn-1f2e.scope\n",
         false},
        {"application launched from the desktop",
         "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-code-4242.scope\n",
         false},
        {"login session (ssh, console)", "0::/user.slice/user-1000.slice/session-3.scope\n", false},
        {"system service", "0::/system.slice/docker.service\n", false},
        {"cgroup v1 with a named systemd hierarchy",
         "12:memory:/\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
         "gvfs-daemon.service\n",
         true},
        {"container root", "0::/\n", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(LinuxApplicationRules::isDesktopSessionCgroup(c.cgroups), c.session);
    }
}

TEST(DesktopApplicationRulesTest, ThisSystemsWordsAndReadings) {
    // The build machine runs Linux: the Mac is never named there.
    EXPECT_EQ(localServicesSubtitle(), "Процессы на этом компьютере");
    EXPECT_TRUE(processCPUSeconds(::getpid()).has_value());
    EXPECT_FALSE(processCPUSeconds(0).has_value());
}

TEST(DesktopApplicationRulesTest, CPUTicksOfAProcStatLine) {
    const struct {
        const char* line;
        std::optional<unsigned long long> ticks;
    } cases[] = {
        {"1234 (node) S 1 1234 1234 0 -1 4194560 100 0 0 0 250 31 0 0 20 0 11 0 5000 1 2 3", 281},
        // The name may hold spaces and parentheses.
        {"77 (a) b (c) R 1 77 77 0 -1 0 0 0 0 0 7 3 0 0 20 0 1 0 1 1 1", 10},
        {"77 (x) R 1 77 77 0 -1 0 0 0 0 0 7", std::nullopt},  // cut short
        {"77 (x) R 1 77 77 0 -1 0 0 0 0 0 7 -3 0", std::nullopt},
        {"no parenthesis", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(cpuTicksOfProcStat(c.line), c.ticks);
    }
}

}  // namespace
}  // namespace kestrane::platform
