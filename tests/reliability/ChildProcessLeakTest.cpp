// The clients that start programs (the Codex app server, lsof and ps for the services scan)
// run for the life of the application: hundreds of rounds must leave no child behind, not
// even a zombie, and no descriptor open.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "localservices/LocalServiceMonitor.h"
#include "platform/Environment.h"
#include "providers/codex/CodexClient.h"
#include "providers/codex/FakeAppServer.h"
#include "reliability/FakeProviders.h"
#include "support/FixedClock.h"

namespace kestrane {
namespace {

using namespace std::chrono_literals;
using platform::Json;

// True when this process has no child at all, running or exited and unreaped. Each test runs
// in a process of its own, so any child is one the code under test left.
bool hasNoChildren() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

std::string respond(int id, const Json& result) {
    return "read\nsend " + Json{{"id", id}, {"result", result}}.dump() + "\n";
}

TEST(ChildProcessLeakTest, TwoHundredCodexFetchesLeaveNoChildAndNoDescriptor) {
    ::signal(SIGPIPE, SIG_IGN);  // as the application does at start-up
    testing::FakeAppServer server;
    const auto codex = server.install(
        "codex",
        respond(1, {{"userAgent", "codex"}}) + "read\n" +
            respond(2, {{"account", {{"type", "chatgpt"}, {"planType", "plus"}}}}) +
            respond(3, {{"rateLimits",
                         {{"primary", {{"usedPercent", 40}, {"windowDurationMins", 300}}}}}}) +
            respond(4, {{"data", Json::array()}}));
    const platform::MapEnvironment environment({{"TMPDIR", server.folder.path().string()}},
                                               server.folder.path());
    const testing::FixedClock clock;
    const providers::CodexClient client(environment, clock, {5000ms, 5000ms, 5000ms, 5000ms});
    const auto fetch = [&] {
        const auto usage = client.fetchSynchronously({codex.string()});
        ASSERT_EQ(usage.windows.size(), 1u);
    };

    fetch();
    const auto descriptors = testing::descriptorCount();
    for (int i = 0; i < 200; ++i) fetch();
    EXPECT_EQ(testing::descriptorCount(), descriptors);
    EXPECT_TRUE(hasNoChildren());
}

TEST(ChildProcessLeakTest, TwoHundredServiceScansLeaveNoChildAndNoDescriptor) {
    auto system = localservices::LocalServiceMonitor::currentSystem();
    // Still two CPU readings of every process per scan, without the wait between them.
    system.cpuSampleSeconds = 0;
    const localservices::LocalServiceMonitor monitor(system);
    (void)monitor.scanSynchronously();
    const auto descriptors = testing::descriptorCount();
    const auto threads = testing::threadCount();
    for (int i = 0; i < 200; ++i) (void)monitor.scanSynchronously();
    EXPECT_EQ(testing::descriptorCount(), descriptors);
    EXPECT_EQ(testing::threadCount(), threads);
    EXPECT_TRUE(hasNoChildren());
}

}  // namespace
}  // namespace kestrane
