// Scans and stops real processes: each test starts its own small TCP listener in a temporary
// project folder and only ever signals that child.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "localservices/LocalServiceMonitor.h"
#include "localservices/LocalServiceMonitorError.h"
#include "platform/ChildProcess.h"
#include "support/TempDirectory.h"

namespace kestrane::localservices {
namespace {

struct Listener {
    platform::ChildProcess child;
    int port = 0;
};

// Starts the listener in `folder` and waits for the line with its port: by then it listens.
Listener startListener(const std::filesystem::path& folder, std::vector<std::string> arguments) {
    auto child = platform::ChildProcess::start(KESTRANE_TEST_LISTENER, arguments,
                                               {.workingDirectory = folder, .pipeInput = true});
    std::string line;
    char byte = 0;
    while (::read(child.outputDescriptor(), &byte, 1) == 1 && byte != '\n') line += byte;
    return Listener{std::move(child), std::stoi(line)};
}

std::optional<LocalService> rowOf(const std::vector<LocalService>& rows, pid_t pid) {
    for (const auto& row : rows) {
        if (row.pid == pid) return row;
    }
    return std::nullopt;
}

LocalServiceMonitorError::Kind stopFailure(const LocalServiceMonitor& monitor,
                                           const LocalService& row) {
    try {
        monitor.stop(row).get();
    } catch (const LocalServiceMonitorError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "the stop was expected to be refused";
    return LocalServiceMonitorError::Kind::signalFailed;
}

class LocalServiceMonitorProcessTest : public ::testing::Test {
  protected:
    LocalServiceMonitorProcessTest() { project_.write("package.json", "{}"); }

    const std::filesystem::path& project() const { return project_.path(); }

    testing::TempDirectory project_;
    LocalServiceMonitor monitor_{LocalServiceMonitor::currentSystem()};
};

TEST_F(LocalServiceMonitorProcessTest, ScanFindsAListenerInItsProjectWithSecretsMasked) {
    const double before = std::floor(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    auto listener = startListener(project(), {"--dual-stack", "--token", "hunter2"});

    // This test process listens too, and must never appear in its own list.
    const int own = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(own, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(own, 1), 0);

    const auto rows = monitor_.scanSynchronously();
    ::close(own);
    EXPECT_FALSE(rowOf(rows, ::getpid()));

    const auto row = rowOf(rows, listener.child.pid());
    ASSERT_TRUE(row) << "listener on port " << listener.port << " not found";
    EXPECT_EQ(row->ownerUID, ::getuid());
    EXPECT_EQ(row->name, "kestrane_test_listener");
    EXPECT_EQ(row->ports, std::vector<int>{listener.port});  // IPv4 and IPv6 count once
    EXPECT_EQ(row->workingDirectory, project().string());
    EXPECT_EQ(row->project,
              (LocalServiceProject{project().filename().string(), project().string()}));
    EXPECT_TRUE(row->command.ends_with("kestrane_test_listener --dual-stack --token [скрыто]"))
        << row->command;
    EXPECT_EQ(row->command.find("hunter2"), std::string::npos);
    ASSERT_TRUE(row->startToken);
    EXPECT_EQ(row->id(), std::to_string(row->pid) + ":" + *row->startToken);
    // The start time is read in the local zone: it lies between our clock before the start
    // and now (ps prints whole seconds).
    ASSERT_TRUE(row->startedAt);
    EXPECT_GE(row->startedAt->secondsSince1970, before - 1);
    EXPECT_LE(row->startedAt->secondsSince1970, before + 600);
    EXPECT_TRUE(row->cpuPercent);
    EXPECT_TRUE(row->memoryBytes);

    // The single-process lookup of a stop describes the same process.
    EXPECT_EQ(monitor_.service(listener.child.pid()), row);
}

TEST_F(LocalServiceMonitorProcessTest, StopEndsTheListenerAndTheRescanNoLongerListsIt) {
    auto listener = startListener(project(), {});
    const auto row = rowOf(monitor_.scanSynchronously(), listener.child.pid());
    ASSERT_TRUE(row);

    monitor_.stop(*row).get();
    const int status = listener.child.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_FALSE(rowOf(monitor_.scanSynchronously(), row->pid));
    EXPECT_EQ(stopFailure(monitor_, *row), LocalServiceMonitorError::Kind::noLongerRunning);
}

TEST_F(LocalServiceMonitorProcessTest, AListenerThatIgnoresSigtermIsStillListed) {
    auto listener = startListener(project(), {"--ignore-term"});
    const auto row = rowOf(monitor_.scanSynchronously(), listener.child.pid());
    ASSERT_TRUE(row);

    // An ignored signal is discarded when it is sent, so the process is unaffected by now.
    monitor_.stop(*row).get();
    EXPECT_TRUE(listener.child.isRunning());
    EXPECT_EQ(rowOf(monitor_.scanSynchronously(), row->pid), row);
}

TEST_F(LocalServiceMonitorProcessTest, RefusesAnotherProcessBehindTheSamePidAndItself) {
    auto listener = startListener(project(), {});
    const auto row = rowOf(monitor_.scanSynchronously(), listener.child.pid());
    ASSERT_TRUE(row);

    auto reused = *row;
    reused.startToken = "Thu Jan 1 00:00:00 1970";
    try {
        monitor_.stop(reused).get();
        FAIL() << "expected processChanged";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_STREQ(error.what(),
                     "PID теперь принадлежит другому процессу. Список обновлен без остановки.");
    }
    auto self = *row;
    self.pid = ::getpid();
    EXPECT_EQ(stopFailure(monitor_, self), LocalServiceMonitorError::Kind::protectedProcess);

    // Still running and still listed: nothing was signalled.
    EXPECT_TRUE(listener.child.isRunning());
    EXPECT_EQ(rowOf(monitor_.scanSynchronously(), row->pid), row);
}

}  // namespace
}  // namespace kestrane::localservices
