#include "app/settings/Autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/Environment.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::string execLine(const std::string& entry) {
    const std::size_t start = entry.find("\nExec=");
    if (start == std::string::npos) return {};
    return entry.substr(start + 1, entry.find('\n', start + 1) - start - 1);
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// The desktop's launcher splits Exec like a shell but with its own escaping rules: a wrong
// rule starts the wrong file, or nothing, at every login.
TEST(AutostartTest, ExecCarriesAnyAbsolutePathIntact) {
    struct Case {
        const char* executable;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/kestrane", "Exec=/usr/bin/kestrane"},
        {"/home/ann/my apps/kestrane", "Exec=\"/home/ann/my apps/kestrane\""},
        {"/opt/it's/$HOME/`x`/kestrane", "Exec=\"/opt/it's/\\\\$HOME/\\\\`x\\\\`/kestrane\""},
        {"/opt/a\"b/kestrane", "Exec=\"/opt/a\\\\\"b/kestrane\""},
        {"/opt/a\\b/kestrane", "Exec=\"/opt/a\\\\\\\\b/kestrane\""},
        {"/opt/100%/kestrane", "Exec=/opt/100%%/kestrane"},
        {"/opt/Программы/kestrane", "Exec=/opt/Программы/kestrane"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        EXPECT_EQ(execLine(Autostart::entryText(c.executable)), c.exec);
    }
}

TEST(AutostartTest, PathsAnEntryCannotCarryAreRefusedWithoutWritingAnything) {
    const testing::TempDirectory home;
    for (const char* executable : {"kestrane", "bin/kestrane", "/opt/a\nb/kestrane",
                                   "/opt/a\tb/kestrane", "/opt/a\x7f/kestrane"}) {
        SCOPED_TRACE(executable);
        const Autostart autostart(home.path() / ".config", executable);
        EXPECT_THROW(autostart.setEnabled(true), AutostartError);
        EXPECT_FALSE(fs::exists(home.path() / ".config"));
        EXPECT_FALSE(autostart.isEnabled());
    }
}

TEST(AutostartTest, EnablingWritesTheEntryAndCreatesMissingFolders) {
    const testing::TempDirectory home;
    const fs::path configuration = home.path() / "missing" / "config";
    const Autostart autostart(configuration, "/usr/bin/kestrane");
    EXPECT_EQ(autostart.entryPath(), configuration / "autostart" / "kestrane.desktop");
    EXPECT_FALSE(autostart.isEnabled());

    autostart.setEnabled(true);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(contentsOf(autostart.entryPath()), Autostart::entryText("/usr/bin/kestrane"));
    EXPECT_EQ(modeOf(autostart.entryPath()), 0644);
    // Configuration folders created here are the user's own.
    EXPECT_EQ(modeOf(configuration), 0700);
    EXPECT_EQ(modeOf(configuration.parent_path()), 0700);
    // The rename leaves no temporary file beside the entry.
    EXPECT_EQ(std::distance(fs::directory_iterator(configuration / "autostart"),
                            fs::directory_iterator()),
              1);

    autostart.setEnabled(false);
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(fs::exists(autostart.entryPath()));
    EXPECT_NO_THROW(autostart.setEnabled(false));
}

TEST(AutostartTest, EnablingReplacesAnEntryThatWasSwitchedOffElsewhere) {
    const testing::TempDirectory home;
    const fs::path entry = home.write("autostart/kestrane.desktop",
                                      "[Desktop Entry]\nType=Application\nName=Old\n"
                                      "Exec=/old/kestrane\nHidden=true\n");
    const Autostart autostart(home.path(), "/usr/local/bin/kestrane");
    ASSERT_FALSE(autostart.isEnabled());
    autostart.setEnabled(true);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(contentsOf(entry), Autostart::entryText("/usr/local/bin/kestrane"));
}

TEST(AutostartTest, ExistingEntriesCountAsEnabledUnlessTheDesktopWouldSkipThem) {
    struct Case {
        const char* name;
        std::string text;
        bool enabled;
    };
    const Case cases[] = {
        {"plain", "[Desktop Entry]\nType=Application\nExec=kestrane\n", true},
        {"hidden", "[Desktop Entry]\nExec=kestrane\nHidden=true\n", false},
        {"hidden with spaces", "[Desktop Entry]\nExec=kestrane\nHidden = true \r\n", false},
        {"not hidden", "[Desktop Entry]\nExec=kestrane\nHidden=false\n", true},
        {"GNOME switch off", "[Desktop Entry]\nExec=kestrane\nX-GNOME-Autostart-enabled=false\n",
         false},
        {"GNOME switch on", "[Desktop Entry]\nExec=kestrane\nX-GNOME-Autostart-enabled=true\n",
         true},
        {"hidden in another group",
         "[Desktop Entry]\nExec=kestrane\n[Desktop Action quit]\nHidden=true\n", true},
        {"commented out", "[Desktop Entry]\nExec=kestrane\n# Hidden=true\n", true},
        {"empty file", "", true},
        {"binary junk", std::string("\0\xff\n[\n=\n", 7), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDirectory home;
        home.write("autostart/kestrane.desktop", c.text);
        EXPECT_EQ(Autostart(home.path(), "/usr/bin/kestrane").isEnabled(), c.enabled);
    }
}

TEST(AutostartTest, AnUnwritableFolderIsReportedInRussianAndRemovalOfNothingIsFine) {
    const testing::TempDirectory home;
    // A file where the autostart folder should be: no permission trick, so it fails as root too.
    home.write("config/autostart", "not a folder");
    const Autostart autostart(home.path() / "config", "/usr/bin/kestrane");
    try {
        autostart.setEnabled(true);
        FAIL() << "expected AutostartError";
    } catch (const AutostartError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Не удалось включить запуск при входе: нет доступа к папке автозапуска.");
    }
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_NO_THROW(autostart.setEnabled(false));
    EXPECT_EQ(contentsOf(home.path() / "config" / "autostart"), "not a folder");
}

TEST(AutostartTest, ForUserFollowsXdgConfigHomeOnlyWhenAbsolute) {
    const fs::path home = "/home/ann";
    struct Case {
        std::map<std::string, std::string, std::less<>> variables;
        fs::path entry;
    };
    const Case cases[] = {
        {{}, "/home/ann/.config/autostart/kestrane.desktop"},
        {{{"XDG_CONFIG_HOME", "/srv/cfg"}}, "/srv/cfg/autostart/kestrane.desktop"},
        {{{"XDG_CONFIG_HOME", "cfg"}}, "/home/ann/.config/autostart/kestrane.desktop"},
        {{{"XDG_CONFIG_HOME", ""}}, "/home/ann/.config/autostart/kestrane.desktop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.string());
        const platform::MapEnvironment environment(c.variables, home);
        EXPECT_EQ(Autostart::forUser(environment, "/usr/bin/kestrane").entryPath(), c.entry);
    }
}

// The written entry passes the freedesktop validator, for an awkward path too.
TEST(AutostartTest, WrittenEntriesPassDesktopFileValidate) {
    const char* validator = "/usr/bin/desktop-file-validate";
    if (::access(validator, X_OK) != 0) GTEST_SKIP() << "desktop-file-validate is not installed";
    for (const char* executable :
         {"/usr/bin/kestrane", "/home/ann/my $apps/it's \"k\"\\kestrane"}) {
        SCOPED_TRACE(executable);
        const testing::TempDirectory home;
        const Autostart autostart(home.path(), executable);
        autostart.setEnabled(true);
        const auto result = testing::runProcess(validator, {autostart.entryPath().string()}, {});
        EXPECT_EQ(result.exitStatus, 0) << result.standardOutput << result.standardError;
        EXPECT_EQ(result.standardOutput, "");
    }
}

}  // namespace
}  // namespace kestrane::app
