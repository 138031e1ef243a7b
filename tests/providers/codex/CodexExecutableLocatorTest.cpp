#include "providers/codex/CodexExecutableLocator.h"

#include <gtest/gtest.h>

#include <map>

#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;
using platform::MapEnvironment;
using platform::Workspace;

class FakeWorkspace final : public Workspace {
  public:
    std::vector<RunningApplication> running;
    std::map<std::string, fs::path, std::less<>> installed;

    std::vector<RunningApplication> runningApplications() const override { return running; }
    std::optional<fs::path> applicationLocation(std::string_view identifier) const override {
        const auto it = installed.find(identifier);
        return it == installed.end() ? std::nullopt : std::optional(it->second);
    }
};

// A temporary machine: a home folder, an application folder and command folders.
class CodexExecutableLocatorTest : public ::testing::Test {
  protected:
    fs::path file(const fs::path& relative, bool executable = true) {
        const fs::path path = root.write(relative, "#!/bin/sh\n");
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read);
        return path;
    }
    fs::path link(const fs::path& relative, const fs::path& target) {
        const fs::path path = root.path() / relative;
        fs::create_directories(path.parent_path());
        fs::create_symlink(target, path);
        return path;
    }
    std::vector<std::string> find(std::map<std::string, std::string, std::less<>> variables,
                                  const std::vector<fs::path>& applications = {}) {
        const MapEnvironment environment(std::move(variables), home());
        return CodexExecutableLocator::executables(environment, applications, home(), {apps()},
                                                   {root.path() / "brew/bin"});
    }
    fs::path home() const { return root.path() / "home"; }
    fs::path apps() const { return root.path() / "Applications"; }
    static std::string codex(const fs::path& directory) { return (directory / "codex").string(); }

    testing::TempDirectory root;
};

TEST_F(CodexExecutableLocatorTest, CandidatesComeInOrderOfPreference) {
    const fs::path pathDirectory = root.path() / "usr/bin";
    file("usr/bin/codex");
    file("home/bin/codex");
    file("home/.local/bin/codex");
    file("brew/bin/codex");
    file("Applications/Codex.app/Contents/Resources/codex");
    file("home/Applications/ChatGPT.app/Contents/MacOS/codex");
    file("custom/codex");

    const auto found = find({{"CODEX_PATH", (root.path() / "custom/codex").string()},
                             {"PATH", pathDirectory.string()}});
    const std::vector<std::string> expected = {
        codex(root.path() / "custom"),
        codex(apps() / "Codex.app/Contents/Resources"),
        codex(home() / "Applications/ChatGPT.app/Contents/MacOS"),
        codex(root.path() / "brew/bin"),
        codex(home() / ".local/bin"),
        codex(home() / "bin"),
        codex(pathDirectory),
    };
    EXPECT_EQ(found, expected);
}

TEST_F(CodexExecutableLocatorTest, CodexPathWithTildeIsListedFirstAndOnlyOnce) {
    file("home/bin/codex");
    const auto found =
        find({{"CODEX_PATH", "~/bin/codex"}, {"PATH", (home() / "bin").string() + ":/nowhere"}});
    EXPECT_EQ(found, std::vector<std::string>{codex(home() / "bin")});
}

TEST_F(CodexExecutableLocatorTest, UnusableCodexPathIsIgnored) {
    file("usr/bin/codex");
    file("plain/codex", false);
    fs::create_directories(root.path() / "folder/codex");
    const std::string pathValue = (root.path() / "usr/bin").string();
    const std::vector<std::string> expected = {codex(root.path() / "usr/bin")};
    for (const std::string& value :
         {std::string(), (root.path() / "folder/codex").string(),
          (root.path() / "plain/codex").string(), std::string("~"), std::string("~/missing")}) {
        SCOPED_TRACE("CODEX_PATH=" + value);
        EXPECT_EQ(find({{"CODEX_PATH", value}, {"PATH", pathValue}}), expected);
    }
}

TEST_F(CodexExecutableLocatorTest, SearchPathKeepsAbsolutePiecesAndOneNamePerFile) {
    file("a/codex");
    link("b/codex", root.path() / "a/codex");   // same file under another name
    link("c/codex", root.path() / "b/codex");   // a link to that link
    fs::create_directories(root.path() / "d");  // nothing there
    const std::string a = (root.path() / "a").string();
    const std::string pathValue = "bin::" + (root.path() / "d").string() + ":" +
                                  (root.path() / "b").string() + ":" + a + ":" +
                                  (root.path() / "c").string() + ":";
    EXPECT_EQ(find({{"PATH", pathValue}}), std::vector<std::string>{codex(root.path() / "b")});
    EXPECT_TRUE(find({{"PATH", "bin::"}}).empty());
    EXPECT_TRUE(find({}).empty());
}

TEST_F(CodexExecutableLocatorTest, ABundleReachedTwiceIsSearchedOnce) {
    file("Applications/Codex.app/Contents/Resources/codex-cli/bin/codex");
    file("Applications/Codex.app/Contents/MacOS/codex");
    const fs::path running = link("running/Codex.app", apps() / "Codex.app");

    const auto found = find({}, {running, apps() / "Codex.app"});
    const std::vector<std::string> expected = {
        codex(running / "Contents/Resources/codex-cli/bin"),
        codex(running / "Contents/MacOS"),
    };
    EXPECT_EQ(found, expected);
}

TEST_F(CodexExecutableLocatorTest, BundleWalkFindsExecutablesOutsideExcludedFolders) {
    const fs::path bundle = apps() / "ChatGPT.app";
    const std::string contents = "Applications/ChatGPT.app/Contents/";
    file(contents + "Resources/tools/codex");
    file(contents + "Helpers/codex/bin/codex");  // a folder named codex is entered
    file(contents + "a/b/c/d/e/f/g/codex");      // 8 levels below Contents
    file(contents + "a/b/c/d/e/f/g/h/codex", true);
    file(contents + "Frameworks/Tool.framework/codex");
    file(contents + "Resources/ru.lproj/codex");
    file(contents + "Resources/node_modules/codex");
    file(contents + "PlugIns/plugins/codex");
    file(contents + ".hidden/codex");
    file(contents + "Resources/other/codex", false);

    const auto walked = CodexExecutableLocator::bundledExecutables(bundle);
    const std::vector<fs::path> expected = {
        bundle / "Contents/Helpers/codex/bin/codex",
        bundle / "Contents/Resources/tools/codex",
        bundle / "Contents/a/b/c/d/e/f/g/codex",
    };
    EXPECT_EQ(walked, expected);

    // The walk stands in only when none of the fixed places holds the tool.
    std::vector<std::string> asStrings;
    for (const auto& path : expected) asStrings.push_back(path.string());
    EXPECT_EQ(find({}), asStrings);
    file(contents + "Resources/codex");
    EXPECT_EQ(find({}), std::vector<std::string>{codex(bundle / "Contents/Resources")});
}

TEST_F(CodexExecutableLocatorTest, BundleWithoutContentsYieldsNothing) {
    EXPECT_TRUE(CodexExecutableLocator::bundledExecutables(apps() / "Missing.app").empty());
    EXPECT_TRUE(find({}).empty());
}

TEST(CodexInstalledApplicationsTest, RunningBundlesComeBeforeInstalledOnes) {
    FakeWorkspace workspace;
    workspace.running = {
        {"com.example.editor", fs::path("/Applications/Editor.app")},
        {"com.openai.chat", fs::path("/Applications/ChatGPT.app")},
        {"com.openai.codex", std::nullopt},
        {std::nullopt, fs::path("/Applications/Nameless.app")},
        {"com.openai.codex", fs::path("/Users/me/Applications/Codex.app")},
    };
    workspace.installed = {{"com.openai.codex", "/Applications/Codex.app"},
                           {"com.openai.chat", "/Applications/ChatGPT.app"}};
    const std::vector<fs::path> expected = {"/Applications/ChatGPT.app",
                                            "/Users/me/Applications/Codex.app",
                                            "/Applications/Codex.app", "/Applications/ChatGPT.app"};
    EXPECT_EQ(CodexExecutableLocator::installedApplications(workspace), expected);
    EXPECT_TRUE(CodexExecutableLocator::installedApplications(platform::systemWorkspace()).empty());
}

}  // namespace
}  // namespace kestrane::providers
