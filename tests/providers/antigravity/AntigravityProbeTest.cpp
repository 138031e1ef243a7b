// The whole program against real language-server stand-ins, found through the real ps and
// lsof. Every process on the machine is visible to the client, so these tests hold a lock
// that keeps other runs of them (other build folders included) from starting servers at the
// same time, and they step aside when the editor's own server is running here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "providers/antigravity/AntigravityClient.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

const std::string kFixtures = std::string(KESTRANE_FIXTURES) + "/antigravity";

// A loopback port that was free a moment ago, for the extension server's command line.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// One fake language server process; stopped when destroyed.
class FakeLanguageServer {
  public:
    explicit FakeLanguageServer(const std::vector<std::string>& arguments,
                                const std::string& program = KESTRANE_FAKE_LANGUAGE_SERVER)
        : child_(platform::ChildProcess::start(program, arguments)) {
        // It prints one line once it listens.
        std::string line;
        char c = 0;
        pollfd fd{child_.outputDescriptor(), POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&fd, 1, 10'000) > 0 &&
               ::read(child_.outputDescriptor(), &c, 1) == 1) {
            line += c;
        }
        ready_ = line.rfind("ready ", 0) == 0;
    }
    bool ready() const { return ready_; }

  private:
    platform::ChildProcess child_;
    bool ready_ = false;
};

class AntigravityProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto lockPath = std::filesystem::temp_directory_path() /
                              "kestrane-antigravity-language-server-tests.lock";
        lock_ = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(lock_, 0);
        ASSERT_EQ(::flock(lock_, LOCK_EX), 0);
        if (!AntigravityClient::runningProcesses().empty()) {
            GTEST_SKIP() << "an Antigravity language server already runs on this machine";
        }
    }
    void TearDown() override {
        servers_.clear();
        if (lock_ >= 0) ::close(lock_);
    }

    void startServer(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--app_data_dir", "antigravity"});
        arguments.insert(arguments.end(), {"--fake_fixtures", kFixtures});
        servers_.push_back(std::make_unique<FakeLanguageServer>(arguments));
        ASSERT_TRUE(servers_.back()->ready());
    }

    // The same server, run by another user through setpriv (which replaces itself with it).
    void startServerAs(const passwd& user, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--app_data_dir", "antigravity"});
        arguments.insert(arguments.end(), {"--fake_fixtures", kFixtures});
        arguments.insert(arguments.begin(), {"--reuid", std::to_string(user.pw_uid), "--regid",
                                             std::to_string(user.pw_gid), "--clear-groups", "--",
                                             KESTRANE_FAKE_LANGUAGE_SERVER});
        servers_.push_back(std::make_unique<FakeLanguageServer>(arguments, "/usr/bin/setpriv"));
        ASSERT_TRUE(servers_.back()->ready());
    }

    testing::ProcessOutput probe() {
        return testing::runProcess(testing::kestraneExecutable(), {"--probe", "antigravity"},
                                   {{"HOME", home_.path().string()}, {"PATH", "/usr/bin:/bin"}});
    }

  private:
    int lock_ = -1;
    testing::TempDirectory home_;
    std::vector<std::unique_ptr<FakeLanguageServer>> servers_;
};

TEST_F(AntigravityProbeTest, FindsTheServerOverHttpsAndPrintsItsWindows) {
    // No extension port: only the HTTPS port that lsof reports can answer.
    startServer({"--csrf_token", "main-secret"});
    const auto output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity OK: Gemini - Недельный=75%, Claude + GPT - 5 часов=50%, "
              "Gemini - 5 часов=13%\n");
    EXPECT_EQ(output.standardError, "");
    EXPECT_EQ(output.exitStatus, 0);
}

TEST_F(AntigravityProbeTest, WithoutSummaryReadsModelQuotasOverTheExtensionPort) {
    // The HTTPS port refuses, so only the extension port with its own token can answer.
    startServer({"--CSRF_TOKEN=main-secret", "--extension_server_port", std::to_string(freePort()),
                 "--extension_server_csrf_token", "ext-secret", "--fake_https_mode", "refuse",
                 "--fake_mode", "legacy"});
    const auto output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity OK: Claude + GPT - 5 часов=70%, Gemini - 5 часов=25%\n");
    EXPECT_EQ(output.exitStatus, 0);
}

TEST_F(AntigravityProbeTest, ASecondServerAnswersWhenTheFirstRefuses) {
    startServer({"--csrf_token", "first", "--fake_mode", "refuse"});
    startServer({"--csrf_token", "second"});
    const auto output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity OK: Gemini - Недельный=75%, Claude + GPT - 5 часов=50%, "
              "Gemini - 5 часов=13%\n");
    EXPECT_EQ(output.exitStatus, 0);
}

TEST_F(AntigravityProbeTest, ReportsWhenNoServerRunsOrNoneAnswers) {
    auto output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity ERROR: Откройте Antigravity, чтобы получить квоты.\n");
    EXPECT_EQ(output.exitStatus, 1);

    startServer({"--csrf_token", "only", "--fake_mode", "refuse"});
    output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity ERROR: Antigravity не вернул квоты. Проверьте вход в аккаунт и "
              "повторите.\n");
    EXPECT_EQ(output.exitStatus, 1);
}

// A system user for the look-alike server; created once, kept for later runs.
const passwd* otherUser() {
    constexpr const char* kName = "kestrane-lookalike";
    if (const passwd* user = ::getpwnam(kName)) return user;
    if (::geteuid() != 0 || ::access("/usr/sbin/useradd", X_OK) != 0) return nullptr;
    // A concurrent run may create it first; either way the lookup below finds it.
    (void)platform::runCommand(
        "/usr/sbin/useradd",
        {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", kName}, 4096,
        std::chrono::seconds(30));
    return ::getpwnam(kName);
}

TEST_F(AntigravityProbeTest, AServerOfAnotherUserIsNeverAsked) {
    // Another user's process that mimics the language server would otherwise be asked for the
    // quota, and its made-up figures shown.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
    const passwd* user = otherUser();
    if (!user) GTEST_SKIP() << "cannot create a system user here";
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is not installed";
    startServerAs(*user, {"--csrf_token", "lookalike"});
    auto output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity ERROR: Откройте Antigravity, чтобы получить квоты.\n");

    // Our own server beside it is found as before.
    startServer({"--csrf_token", "ours"});
    output = probe();
    EXPECT_EQ(output.standardOutput,
              "Antigravity OK: Gemini - Недельный=75%, Claude + GPT - 5 часов=50%, "
              "Gemini - 5 часов=13%\n");
}

}  // namespace
}  // namespace kestrane::providers
