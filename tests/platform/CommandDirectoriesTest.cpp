#include "platform/CommandDirectories.h"

#include <gtest/gtest.h>

#include "providers/codex/CodexExecutableLocator.h"
#include "support/TempDirectory.h"

namespace kestrane::platform {
namespace {

namespace fs = std::filesystem;

class CommandDirectoriesTest : public ::testing::Test {
  protected:
    fs::path home() const { return root.path() / "home"; }
    testing::TempDirectory root;
};

TEST_F(CommandDirectoriesTest, WhereNpmNvmAndHomebrewPutCommandsBestFirst) {
    root.write("home/.npmrc",
               "; settings\ninit-author-name = x\nprefix = ~/first\nprefix=~/npm-prefix\n");
    for (const char* version : {"v9.1.0", "v20.2.0", "v18.20.0", "v20.11.1", "not-a-version"}) {
        fs::create_directories(home() / ".nvm/versions/node" / version / "bin");
    }
    const MapEnvironment environment({}, home());
    const std::vector<fs::path> expected = {
        home() / ".local/bin",
        home() / "npm-prefix/bin",
        home() / ".npm-global/bin",
        home() / ".nvm/versions/node/v20.11.1/bin",
        home() / ".nvm/versions/node/v20.2.0/bin",
        home() / ".nvm/versions/node/v18.20.0/bin",
        home() / ".nvm/versions/node/v9.1.0/bin",
        home() / ".nvm/versions/node/not-a-version/bin",
        "/home/linuxbrew/.linuxbrew/bin",
        home() / ".linuxbrew/bin",
        "/usr/local/bin",
    };
    EXPECT_EQ(packageCommandDirectories(environment), expected);
}

TEST_F(CommandDirectoriesTest, NpmPrefixForms) {
    struct Case {
        const char* npmrc;
        std::optional<fs::path> prefix;
    };
    const Case cases[] = {
        {"prefix=/opt/npm\n", fs::path("/opt/npm")},
        {"prefix = \"~/quoted\"\r\n", fs::path("HOME/quoted")},
        {"prefix=~\n", fs::path("HOME")},
        {"prefix=relative/path\n", std::nullopt},
        {"prefixes=/x\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.npmrc);
        root.write("home/.npmrc", c.npmrc);
        std::optional<fs::path> expected = c.prefix;
        if (expected && expected->string().starts_with("HOME")) {
            expected = fs::path(home().string() + expected->string().substr(4));
        }
        EXPECT_EQ(npmPrefix(MapEnvironment({}, home())), expected);
    }
}

TEST_F(CommandDirectoriesTest, TheLocatorFindsCodexWhereNpmPutItWithAShortPath) {
    const auto install = [&](const fs::path& relative) {
        const fs::path path = root.write(relative, "#!/usr/bin/env node\n");
        fs::permissions(path, fs::perms::owner_all);
        return path.string();
    };
    const auto newest = install("home/.nvm/versions/node/v22.1.0/bin/codex");
    const auto older = install("home/.nvm/versions/node/v8.0.0/bin/codex");
    const auto global = install("home/.npm-global/bin/codex");
    const MapEnvironment environment({{"PATH", "/usr/bin:/bin"}}, home());
    const auto found = providers::CodexExecutableLocator::executables(
        environment, {}, home(), {}, packageCommandDirectories(environment));
    ASSERT_GE(found.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(found.begin(), found.begin() + 3),
              (std::vector<std::string>{global, newest, older}));
}

}  // namespace
}  // namespace kestrane::platform
