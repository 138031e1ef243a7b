// The probe against the real `codex app-server` from the npm package that scripts/setup
// installs into the build tree. Signed out (HOME is an empty temporary folder), the server
// answers "initialize" and "account/read" and refuses the rate limits with its own text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;

// The folder holding `node` on this test's PATH; the package's launcher is a node script.
std::optional<fs::path> nodeDirectory() {
    const char* path = std::getenv("PATH");
    std::stringstream pieces(path ? path : "");
    for (std::string piece; std::getline(pieces, piece, ':');) {
        if (!piece.empty() && ::access((fs::path(piece) / "node").c_str(), X_OK) == 0) {
            return fs::path(piece);
        }
    }
    return std::nullopt;
}

// Processes whose working directory is `directory`: the client starts codex there.
std::vector<std::string> processesWorkingIn(const fs::path& directory) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        if (fs::read_symlink(entry.path() / "cwd", ignored) == directory) found.push_back(name);
    }
    return found;
}

TEST(CodexRealAppServerTest, SignedOutProbeEndsWithTheServersOwnError) {
    const fs::path codex = KESTRANE_REAL_CODEX;
    if (!fs::exists(codex)) {
        GTEST_SKIP() << "the @openai/codex npm package is not installed at " << codex
                     << " (scripts/setup could not download it; run it again with network access)";
    }
    const auto node = nodeDirectory();
    if (!node) GTEST_SKIP() << "node is not on PATH; the codex launcher needs it";
    const std::string searchPath = node->string() + ":/usr/bin:/bin";
    // A download cut short can leave the launcher without its native program.
    if (testing::runProcess(codex.string(), {"--version"}, {{"PATH", searchPath}}).exitStatus !=
        0) {
        GTEST_SKIP() << "the @openai/codex npm package at " << codex
                     << " does not run (incomplete download?); run scripts/setup again";
    }

    const testing::TempDirectory folder;
    const fs::path home = folder.path() / "home";
    fs::create_directories(home);
    const fs::path workingDirectory = fs::canonical(folder.path());

    const auto run = testing::runProcess(testing::kestraneExecutable(), {"--probe", "codex"},
                                         {{"HOME", home.string()},
                                          {"TMPDIR", workingDirectory.string()},
                                          {"CODEX_PATH", codex.string()},
                                          {"PATH", searchPath}},
                                         std::chrono::seconds(90));

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardOutput,
              "Codex ERROR: codex account authentication required to read rate limits\n");
    EXPECT_EQ(run.standardError, "");
    EXPECT_EQ(processesWorkingIn(workingDirectory), std::vector<std::string>{})
        << "a codex process outlived the probe";
}

TEST(CodexRealAppServerTest, WithoutNodeOnThePathTheProbeSaysWhatIsMissing) {
    // A tray started by the desktop session often has a short PATH; the npm launcher then
    // cannot find node.
    const fs::path codex = KESTRANE_REAL_CODEX;
    if (!fs::exists(codex)) {
        GTEST_SKIP() << "the @openai/codex npm package is not installed at " << codex;
    }
    if (::access((codex.parent_path() / "node").c_str(), X_OK) == 0) {
        GTEST_SKIP() << "node lives beside the launcher here, so it is always found";
    }
    const testing::TempDirectory folder;
    const fs::path home = folder.path() / "home";
    fs::create_directories(home);
    const auto run = testing::runProcess(testing::kestraneExecutable(), {"--probe", "codex"},
                                         {{"HOME", home.string()},
                                          {"TMPDIR", folder.path().string()},
                                          {"CODEX_PATH", codex.string()},
                                          {"PATH", (folder.path() / "no-node").string()}},
                                         std::chrono::seconds(90));
    EXPECT_EQ(run.standardOutput,
              "Codex ERROR: Codex найден, но для запуска ему нужен Node.js, которого нет в PATH.\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardError, "");
}

}  // namespace
}  // namespace kestrane::providers
