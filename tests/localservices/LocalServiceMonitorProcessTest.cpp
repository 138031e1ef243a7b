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
#include <cstdio>
#include <filesystem>
#include <optional>

#include "localservices/LocalServiceCommand.h"
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

    // The single-process lookup of a stop describes the same process. Its CPU share is ps's
    // own figure, the scan's a recent reading: they need not agree.
    auto looked = monitor_.service(listener.child.pid());
    ASSERT_TRUE(looked);
    auto scanned = *row;
    looked->cpuPercent = scanned.cpuPercent = std::nullopt;
    EXPECT_EQ(looked, scanned);
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

// Reads the child's output up to and including the first line that contains `marker`.
bool awaitLine(platform::ChildProcess& child, std::string_view marker) {
    std::string line;
    char byte = 0;
    while (::read(child.outputDescriptor(), &byte, 1) == 1) {
        if (byte != '\n') {
            line += byte;
            continue;
        }
        if (line.find(marker) != std::string::npos) return true;
        line.clear();
    }
    return false;
}

TEST_F(LocalServiceMonitorProcessTest, AProcessBusyNowIsHeavyThoughItsLifetimeAverageIsLow) {
    // Idle for 8 s, then busy: ps's whole-life average stays under 20 % for the first two
    // busy seconds. Root runs it at the highest priority so that other work on a shared
    // machine cannot starve it below the threshold.
    std::vector<std::string> arguments{"-c", "sleep 8; echo busy; while :; do :; done"};
    std::string program = "/bin/sh";
    if (::geteuid() == 0) {
        arguments.insert(arguments.begin(), {"-n", "-20", program});
        program = "/usr/bin/nice";
    }
    auto burner =
        platform::ChildProcess::start(program, arguments, {.workingDirectory = project()});
    ASSERT_TRUE(awaitLine(burner, "busy"));
    // What ps says as the scan starts (a scan on a loaded machine may take seconds, which
    // would lift the average itself).
    const auto lifetime =
        LocalServiceCommand::run("/bin/ps", {"-o", "pcpu=", "-p", std::to_string(burner.pid())});
    const auto rows = monitor_.scanSynchronously();
    burner.stop();

    const auto row = rowOf(rows, burner.pid());
    ASSERT_TRUE(row) << "the busy process was not listed";
    ASSERT_TRUE(row->cpuPercent);
    EXPECT_GE(*row->cpuPercent, 20.0);
    EXPECT_LT(std::stod(lifetime.output), 20.0) << "ps's own figure should be the low average";
    EXPECT_TRUE(row->ports.empty());
    EXPECT_EQ(row->project->path, project().string());
}

TEST_F(LocalServiceMonitorProcessTest, ABrowserUnderOptIsHiddenAndPythonServingAProjectIsListed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to place a program under /opt";
    char folder[] = "/opt/kestrane-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path browserPath = std::filesystem::path(folder) / "browser";
    std::filesystem::copy_file(KESTRANE_TEST_LISTENER, browserPath);
    std::filesystem::permissions(browserPath, std::filesystem::perms::owner_all);
    struct Cleanup {
        std::filesystem::path path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{folder};

    auto browser = platform::ChildProcess::start(
        browserPath, {}, {.workingDirectory = project(), .pipeInput = true});
    std::string line;
    char byte = 0;
    while (::read(browser.outputDescriptor(), &byte, 1) == 1 && byte != '\n') line += byte;
    ASSERT_FALSE(line.empty()) << "the browser stand-in did not start listening";

    std::optional<platform::ChildProcess> python;
    if (::access("/usr/bin/python3", X_OK) == 0) {
        python = platform::ChildProcess::start(
            "/usr/bin/python3", {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1"},
            {.workingDirectory = project()});
        ASSERT_TRUE(awaitLine(*python, "Serving HTTP"));
    }
    const auto rows = monitor_.scanSynchronously();
    EXPECT_FALSE(rowOf(rows, browser.pid())) << "a program under /opt is an application";
    if (!python) GTEST_SKIP() << "no /usr/bin/python3 here";
    const auto row = rowOf(rows, python->pid());
    ASSERT_TRUE(row) << "python3 -m http.server in a project is a dev service";
    EXPECT_EQ(row->name, "python3");
    EXPECT_EQ(row->ports.size(), 1u);
    EXPECT_EQ(row->project->path, project().string());
}

TEST_F(LocalServiceMonitorProcessTest, AnLsofThatNeverAnswersEndsTheScanWithinItsLimit) {
    const auto lsof = project_.write("tools/lsof", "#!/bin/sh\nexec sleep 600\n");
    std::filesystem::permissions(lsof, std::filesystem::perms::owner_all);
    auto system = LocalServiceMonitor::currentSystem(std::chrono::milliseconds(1000));
    system.lsofPath = lsof.string();
    auto scan = LocalServiceMonitor(system).scan();
    // Generous: the limit is one second; without it this would wait ten minutes.
    ASSERT_EQ(scan.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    try {
        scan.get();
        FAIL() << "expected toolTimedOut";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::toolTimedOut);
        EXPECT_STREQ(error.what(),
                     "Не удалось получить список локальных TCP-сервисов: lsof не ответил за 1 с.");
    }
}

// Starts `/bin/sleep` so that it gets exactly `pid`, by setting the kernel's last given pid
// just before; other processes starting at the same moment may take it first, so it tries a
// few times.
std::optional<platform::ChildProcess> startWithPid(pid_t pid) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        FILE* last = std::fopen("/proc/sys/kernel/ns_last_pid", "w");
        if (!last) return std::nullopt;
        const bool written = std::fprintf(last, "%d", pid - 1) > 0;
        if (std::fclose(last) != 0 || !written) return std::nullopt;
        auto child = platform::ChildProcess::start("/bin/sleep", {"600"}, {.pipeOutput = false});
        if (child.pid() == pid) return child;
        child.stop();
    }
    return std::nullopt;
}

TEST_F(LocalServiceMonitorProcessTest, APidReusedBetweenTheCheckAndTheSignalIsNeverSignalled) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand out a chosen pid";
    auto original = platform::ChildProcess::start(
        "/bin/sleep", {"600"}, {.workingDirectory = project(), .pipeOutput = false});
    const pid_t pid = original.pid();
    const auto listed = monitor_.service(pid);
    ASSERT_TRUE(listed);
    ASSERT_TRUE(listed->startToken);

    // The check itself runs ps; right then the process ends and a stranger gets its pid,
    // while ps still answers with the old process: the worst timing there is.
    auto system = LocalServiceMonitor::currentSystem();
    const std::vector<std::string> psColumns{
        "-o", "pid=", "-o", "uid=", "-o", "pcpu=", "-o", "rss=", "-o", "lstart=", "-o", "command="};
    std::vector<std::string> lookup{"-p", std::to_string(pid)};
    lookup.insert(lookup.end(), psColumns.begin(), psColumns.end());
    const auto answerBefore = LocalServiceCommand::run(system.psPath, lookup);
    std::optional<platform::ChildProcess> stranger;
    bool swapped = false;
    auto run = system.run;
    system.run = [&](const std::string& executable, const std::vector<std::string>& arguments) {
        if (executable != system.psPath || swapped) return run(executable, arguments);
        swapped = true;
        original.stop();
        stranger = startWithPid(pid);
        return answerBefore;
    };
    try {
        LocalServiceMonitor(system).stopSynchronously(*listed);
        FAIL() << "the stop must not succeed";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::noLongerRunning);
    }
    if (!stranger) GTEST_SKIP() << "could not hand the pid to another process";
    EXPECT_TRUE(stranger->isRunning()) << "the process now behind the pid was signalled";
    stranger->stop();
}

}  // namespace
}  // namespace kestrane::localservices
