#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

namespace kestrane::platform {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcessTest, RunCommandCollectsOutputAndStatus) {
    const auto ok = runCommand("/bin/sh", {"-c", "printf 'a b\\n'; echo oops >&2"}, 1024);
    EXPECT_TRUE(ok.exitedSuccessfully());
    EXPECT_EQ(ok.output, "a b\n");  // standard error goes nowhere
    EXPECT_FALSE(ok.truncated);

    const auto failed = runCommand("/bin/sh", {"-c", "exit 3"}, 1024);
    EXPECT_FALSE(failed.exitedSuccessfully());
    EXPECT_EQ(WEXITSTATUS(failed.status), 3);
}

TEST(ChildProcessTest, RunCommandCapsOutputButDrainsTheChild) {
    const auto big = runCommand("/bin/sh", {"-c", "head -c 300000 /dev/zero"}, 1000);
    EXPECT_TRUE(big.exitedSuccessfully());
    EXPECT_EQ(big.output.size(), 1000u);
    EXPECT_TRUE(big.truncated);
}

TEST(ChildProcessTest, RunCommandKillsAChildThatOutlivesItsLimit) {
    const auto slow = runCommand("/bin/sleep", {"30"}, 1024, 50ms);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_FALSE(slow.exitedSuccessfully());
    EXPECT_TRUE(WIFSIGNALED(slow.status));
}

TEST(ChildProcessTest, LaunchFailureIsARussianError) {
    try {
        runCommand("/nonexistent/program", {}, 10);
        FAIL() << "expected a launch error";
    } catch (const LaunchError& error) {
        EXPECT_EQ(error.error(), ENOENT);
        EXPECT_STREQ(error.what(), "Файл не найден.");
    }
}

TEST(ChildProcessTest, StopKillsAChildThatIgnoresTerminate) {
    auto child = ChildProcess::start(
        "/bin/sh", {"-c", "trap '' TERM; echo ready; while :; do :; done"}, {.pipeInput = true});
    char byte = 0;
    ASSERT_EQ(read(child.outputDescriptor(), &byte, 1), 1);  // the trap is in place
    child.stop();
    EXPECT_FALSE(child.isRunning());
    EXPECT_EQ(kill(child.pid(), 0), -1);  // reaped, not a zombie
}

TEST(ChildProcessTest, WritingToAChildThatHasGoneFailsInsteadOfRaisingSigpipe) {
    signal(SIGPIPE, SIG_IGN);  // as the application does at start-up
    auto child = ChildProcess::start("/bin/true", {}, {.pipeInput = true});
    child.wait();
    const char line[] = "{}\n";
    EXPECT_EQ(write(child.inputDescriptor(), line, sizeof line - 1), -1);
    EXPECT_EQ(errno, EPIPE);
}

}  // namespace
}  // namespace kestrane::platform
