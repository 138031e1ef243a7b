#include "localservices/LocalServiceMonitor.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <set>

#include "localservices/LocalServiceMonitorError.h"
#include "localservices/LocalServicesViewState.h"

namespace kestrane::localservices {
namespace {

constexpr std::uint32_t kUser = 501;
constexpr std::int32_t kOwnPID = 4242;
const std::string kLsof = "/usr/bin/lsof";
const std::string kPs = "/bin/ps";
const std::string kPsColumns = " -o pid= -o uid= -o pcpu= -o rss= -o lstart= -o command=";
const std::string kAllListeners = kLsof + " -nP -iTCP -sTCP:LISTEN -Fpcun";
const std::string kUserTable = kPs + " -U 501" + kPsColumns;

// Stands in for lsof, ps, the file system and kill(): answers commands from a table and
// records every command and every signal.
struct FakeMachine {
    std::map<std::string, LocalServiceCommandResult> outputs;
    std::set<std::string> files;
    std::map<int, int> signalErrors;  // signal -> errno to fail with
    int openError = 0;                // errno of opening the process
    std::set<std::string> hung;       // commands that outlive their time limit
    std::vector<std::string> commands;
    std::vector<std::pair<std::int32_t, int>> signals;

    LocalServiceMonitor monitor() { return LocalServiceMonitor(system()); }

    LocalServiceMonitor::System system() {
        return LocalServiceMonitor::System{
            .run =
                [this](const std::string& executable, const std::vector<std::string>& arguments) {
                    std::string line = executable;
                    for (const auto& argument : arguments) line += " " + argument;
                    commands.push_back(line);
                    if (hung.contains(line)) {
                        throw LocalServiceMonitorError::toolTimedOut(
                            executable.substr(executable.rfind('/') + 1), 5);
                    }
                    const auto found = outputs.find(line);
                    if (found == outputs.end()) throw LocalServiceMonitorError::scanFailed();
                    return found->second;
                },
            .fileExists = [this](const std::string& path) { return files.contains(path); },
            .openProcess =
                [this](std::int32_t pid) {
                    return LocalServiceMonitor::SignalTarget{
                        openError, [this, pid](int signal) {
                            signals.emplace_back(pid, signal);
                            const auto error = signalErrors.find(signal);
                            return error == signalErrors.end() ? 0 : error->second;
                        }};
                },
            .userID = kUser,
            .ownPID = kOwnPID,
            .calendar = platform::Calendar("UTC"),
            .lsofPath = kLsof,
            .psPath = kPs,
        };
    }
};

std::string psLine(int pid, int uid, const std::string& cpu, const std::string& rss,
                   const std::string& command) {
    return std::to_string(pid) + " " + std::to_string(uid) + " " + cpu + " " + rss +
           " Mon Jan  5 09:03:07 2026 " + command + "\n";
}

// A user with a shop project, a web project without markers, and a mixed set of processes.
FakeMachine workstation() {
    FakeMachine machine;
    machine.files = {"/home/dev/shop/package.json"};
    machine.outputs[kAllListeners] = {
        "p412\ncnode\nu501\nn*:3000\nn[::1]:3000\n"
        "p977\ncvite\nu501\nn127.0.0.1:5173\n"
        "p50\ncsshd\nu0\nn*:22\n"                    // another user's daemon
        "p4242\nckestrane\nu501\nn127.0.0.1:7777\n"  // this application
        "p60\ncrapportd\nu501\nn*:49152\n"           // hidden system agent
        "p61\ncpostgres\nu501\nn*:5432\n",           // not a runtime, no project
        0};
    machine.outputs[kUserTable] = {
        psLine(412, 501, "0.5", "81920", "/usr/bin/node server.js --token abc") +
            psLine(977, 501, "3.0", "1000", "/home/dev/shop/node_modules/.bin/vite") +
            psLine(60, 501, "0.0", "10", "/usr/libexec/rapportd") +
            psLine(61, 501, "0.0", "10", "/usr/lib/postgresql/bin/postgres") +
            psLine(700, 501, "25.0", "10", "cc1plus main.cpp") +
            psLine(701, 501, "25.0", "10", "/usr/bin/busy") +
            psLine(702, 501, "0.0", "524288", "/usr/bin/rust-analyzer") +
            psLine(703, 501, "19.9", "524287", "/usr/bin/almost") +
            psLine(704, 501, "90.0", "10", "/usr/bin/exited-meanwhile") +
            psLine(4242, 501, "50.0", "10", "/opt/kestrane"),
        0};
    machine.outputs[kLsof + " -a -p 60,61,412,700,701,702,704,977 -d cwd -Fpn"] = {
        "p412\nn/home/dev/shop\np977\nn/home/dev/shop/web\np60\nn/\np61\nn/var/lib\n"
        "p700\nn/home/dev/shop/build\np701\nn/home/dev/notes\np702\nn/home/dev/shop\n",
        0};
    return machine;
}

TEST(LocalServiceMonitorTest, ScanListsThisUsersServicesWithThreeCommands) {
    auto machine = workstation();
    const auto rows = machine.monitor().scanSynchronously();

    EXPECT_EQ(machine.commands, (std::vector<std::string>{
                                    kAllListeners, kUserTable,
                                    kLsof + " -a -p 60,61,412,700,701,702,704,977 -d cwd -Fpn"}));

    std::vector<std::string> ids;
    for (const auto& row : rows) ids.push_back(row.id());
    EXPECT_EQ(ids, (std::vector<std::string>{
                       "412:Mon Jan 5 09:03:07 2026", "977:Mon Jan 5 09:03:07 2026",
                       "700:Mon Jan 5 09:03:07 2026", "702:Mon Jan 5 09:03:07 2026"}));

    const LocalServiceProject shop{"shop", "/home/dev/shop"};
    const LocalService node{
        .pid = 412,
        .ownerUID = 501,
        .name = "node",
        .command = "/usr/bin/node server.js --token [скрыто]",
        .ports = {3000},
        .cpuPercent = 0.5,
        .memoryBytes = 81'920u * 1024,
        .startedAt = platform::Date{1767603787},
        .workingDirectory = "/home/dev/shop",
        .project = shop,
        .startToken = "Mon Jan 5 09:03:07 2026",
    };
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], node);
    EXPECT_EQ(rows[1].name, "vite");
    EXPECT_EQ(rows[2].name, "cc1plus");
    EXPECT_TRUE(rows[2].ports.empty());
    EXPECT_EQ(rows[3].memoryBytes, 536'870'912u);
}

TEST(LocalServiceMonitorTest, ScanWithoutListenersOrHeavyProcessesRunsNoDirectoryQuery) {
    FakeMachine machine;
    machine.outputs[kAllListeners] = {"", 1};  // lsof's "nothing found"
    machine.outputs[kUserTable] = {psLine(5, 501, "1.0", "10", "bash"), 0};
    EXPECT_TRUE(machine.monitor().scanSynchronously().empty());
    EXPECT_EQ(machine.commands.size(), 2u);
}

TEST(LocalServiceMonitorTest, ScanFailsOnlyWhenTheListenerQueryFails) {
    FakeMachine broken;
    broken.outputs[kAllListeners] = {"p412\ncnode\nu501\nn*:3000\n", 2};
    EXPECT_THROW(broken.monitor().scanSynchronously(), LocalServiceMonitorError);

    FakeMachine missing;  // lsof cannot be started at all
    try {
        missing.monitor().scanSynchronously();
        FAIL() << "expected scanFailed";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::scanFailed);
        EXPECT_STREQ(error.what(), "Не удалось получить список локальных TCP-сервисов.");
    }

    // Without ps and working directories the listeners still show, by their lsof names.
    FakeMachine bare;
    bare.outputs[kAllListeners] = {"p412\ncnode\nu501\nn*:3000\n", 0};
    bare.outputs[kUserTable] = {"garbage", 1};
    const auto rows = bare.monitor().scanSynchronously();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(
        rows[0],
        (LocalService{
            .pid = 412, .ownerUID = 501, .name = "node", .command = "node", .ports = {3000}}));
    EXPECT_EQ(rows[0].id(), "412:node");
}

TEST(LocalServiceMonitorTest, RowsSortByLowestPortThenNameIgnoringCase) {
    const auto row = [](std::string name, std::vector<int> ports) {
        return LocalService{.name = std::move(name), .ports = std::move(ports)};
    };
    std::vector<LocalService> rows{
        row("zeta", {}),  row("vite", {5173}), row("Beta", {}), row("node", {3000, 9229}),
        row("alpha", {}), row("api", {3000}),  row("ёлка", {}), row("Яблоко", {})};
    LocalServiceMonitor::sortServices(rows);
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.name);
    // "api" and "node" share port 3000 and fall back to their names.
    EXPECT_EQ(names, (std::vector<std::string>{"api", "node", "vite", "alpha", "Beta", "zeta",
                                               "ёлка", "Яблоко"}));

    std::vector<LocalService> sameName{row("Node", {}), row("node", {})};
    LocalServiceMonitor::sortServices(sameName);  // equal keys, any order, no crash
    EXPECT_EQ(sameName.size(), 2u);
}

// The machine as a stop sees it: pid 412 is still node on port 3000, started at the same time.
FakeMachine lookupOf412(const std::string& listeners = "p412\ncnode\nu501\nn*:3000\n",
                        const std::string& started = "Mon Jan  5 09:03:07 2026") {
    FakeMachine machine;
    machine.outputs[kPs + " -p 412" + kPsColumns] = {
        "412 501 0.5 81920 " + started + " /usr/bin/node server.js\n", 0};
    machine.outputs[kLsof + " -nP -a -p 412 -iTCP -sTCP:LISTEN -Fpcun"] = {listeners, 0};
    machine.outputs[kLsof + " -a -p 412 -d cwd -Fpn"] = {"p412\nn/home/dev/shop\n", 0};
    return machine;
}

const LocalService kListed{.pid = 412,
                           .ownerUID = 501,
                           .name = "node",
                           .command = "/usr/bin/node server.js",
                           .ports = {3000},
                           .startToken = "Mon Jan 5 09:03:07 2026"};

TEST(LocalServiceMonitorTest, ServiceLooksUpOneProcessOfThisUser) {
    auto machine = lookupOf412();
    const auto current = machine.monitor().service(412);
    ASSERT_TRUE(current);
    EXPECT_EQ(current->ports, std::vector<int>{3000});
    EXPECT_EQ(current->startToken, kListed.startToken);
    EXPECT_EQ(current->workingDirectory, "/home/dev/shop");
    EXPECT_EQ(machine.commands.size(), 3u);

    // Another user's process is not ours to describe.
    auto foreign = lookupOf412();
    foreign.outputs[kPs + " -p 412" + kPsColumns].output =
        "412 0 0.5 81920 Mon Jan  5 09:03:07 2026 /usr/bin/node server.js\n";
    EXPECT_EQ(foreign.monitor().service(412), std::nullopt);

    // pid 0, 1, negative pids and this application are never looked up.
    FakeMachine nothing;
    for (const std::int32_t pid : {-1, 0, 1, kOwnPID}) {
        EXPECT_EQ(nothing.monitor().service(pid), std::nullopt);
    }
    EXPECT_TRUE(nothing.commands.empty());
}

TEST(LocalServiceMonitorTest, StopSignalsOnlyAConfirmedProcessAndOnlyWithSigterm) {
    using Kind = LocalServiceMonitorError::Kind;
    auto changedName = kListed;
    changedName.name = "deno";
    auto noToken = kListed;
    noToken.startToken.reset();
    auto heavy = kListed;
    heavy.ports.clear();
    auto ownProcess = kListed;
    ownProcess.pid = kOwnPID;
    auto groupPid = kListed;
    groupPid.pid = -412;

    struct Case {
        const char* label;
        LocalService listed;
        FakeMachine machine;
        std::optional<Kind> error;
        std::vector<std::pair<std::int32_t, int>> signals;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"same process", kListed, lookupOf412(), std::nullopt, {{412, 0}, {412, SIGTERM}}});
    cases.push_back({"also listens elsewhere now",
                     kListed,
                     lookupOf412("p412\ncnode\nu501\nn*:3000\nn*:3001\n"),
                     std::nullopt,
                     {{412, 0}, {412, SIGTERM}}});
    cases.push_back({"heavy process that listens now",
                     heavy,
                     lookupOf412("p412\ncnode\nu501\nn*:8080\n"),
                     std::nullopt,
                     {{412, 0}, {412, SIGTERM}}});
    cases.push_back({"exited", kListed, FakeMachine{}, Kind::noLongerRunning, {}});
    cases.push_back({"no longer listens", kListed, lookupOf412(""), Kind::noLongerListening, {}});
    cases.push_back({"pid reused",
                     kListed,
                     lookupOf412("p412\ncnode\nu501\nn*:3000\n", "Tue Jan  6 10:00:00 2026"),
                     Kind::processChanged,
                     {}});
    cases.push_back({"moved to another port",
                     kListed,
                     lookupOf412("p412\ncnode\nu501\nn*:3001\n"),
                     Kind::processChanged,
                     {}});
    cases.push_back({"different name", changedName, lookupOf412(), Kind::processChanged, {}});
    cases.push_back({"row without start time", noToken, lookupOf412(), Kind::processChanged, {}});
    cases.push_back({"own process", ownProcess, lookupOf412(), Kind::protectedProcess, {}});
    cases.push_back({"process group", groupPid, lookupOf412(), Kind::protectedProcess, {}});
    auto vanished = lookupOf412();
    vanished.signalErrors[0] = ESRCH;
    cases.push_back(
        {"gone before the signal", kListed, vanished, Kind::noLongerRunning, {{412, 0}}});
    auto refused = lookupOf412();
    refused.signalErrors[SIGTERM] = EPERM;
    cases.push_back(
        {"signal refused", kListed, refused, Kind::signalFailed, {{412, 0}, {412, SIGTERM}}});
    auto unreadable = lookupOf412();
    unreadable.outputs.erase(kLsof + " -nP -a -p 412 -iTCP -sTCP:LISTEN -Fpcun");
    cases.push_back({"lookup failed", kListed, unreadable, Kind::scanFailed, {}});

    for (auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::optional<Kind> error;
        try {
            c.machine.monitor().stop(c.listed).get();
        } catch (const LocalServiceMonitorError& thrown) {
            error = thrown.kind();
            if (error == Kind::signalFailed) {
                EXPECT_STREQ(thrown.what(),
                             "Не удалось отправить процессу SIGTERM: Нет прав доступа.");
            }
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(c.machine.signals, c.signals);
    }
}

TEST(LocalServiceMonitorTest, ProtectedProcessesAreRefusedBeforeAnyLookup) {
    for (const std::int32_t pid : {0, 1, kOwnPID}) {
        SCOPED_TRACE(pid);
        FakeMachine machine;
        auto listed = kListed;
        listed.pid = pid;
        try {
            machine.monitor().stopSynchronously(listed);
            FAIL() << "expected protectedProcess";
        } catch (const LocalServiceMonitorError& error) {
            EXPECT_STREQ(error.what(), "Kestrane не может остановить этот процесс.");
        }
        EXPECT_TRUE(machine.commands.empty());
        EXPECT_TRUE(machine.signals.empty());
    }
}

TEST(LocalServiceMonitorTest, CpuShareIsMeasuredOverTheRecentInterval) {
    // ps prints averages over each process's whole life; the readings tell what they do now.
    FakeMachine machine;
    machine.files = {"/home/dev/shop/package.json"};
    machine.outputs[kAllListeners] = {"p412\ncnode\nu501\nn*:3000\n", 0};
    machine.outputs[kUserTable] = {psLine(412, 501, "0.5", "10", "/usr/bin/node server.js") +
                                       psLine(700, 501, "2.0", "10", "/home/dev/bin/solver") +
                                       psLine(701, 501, "90.0", "10", "/home/dev/bin/idle-now") +
                                       psLine(702, 501, "50.0", "10", "/home/dev/bin/gone"),
                                   0};
    machine.outputs[kLsof + " -a -p 412,700,702 -d cwd -Fpn"] = {
        "p412\nn/home/dev/shop\np700\nn/home/dev/shop\np702\nn/home/dev/shop\n", 0};

    double now = 100.0;
    std::vector<double> pauses;
    bool secondReading = false;
    // pid -> CPU seconds at the first and the second reading; 702 ends in between.
    const std::map<std::int32_t, std::pair<double, std::optional<double>>> cpu{
        {412, {3.0, 3.05}}, {700, {10.0, 10.45}}, {701, {80.0, 80.0}}, {702, {5.0, {}}}};
    auto system = machine.system();
    system.cpuSampleSeconds = 0.5;
    system.monotonicSeconds = [&] { return now += 0.01; };
    system.sleep = [&](double seconds) {
        pauses.push_back(seconds);
        now += seconds;
        secondReading = true;
    };
    system.cpuSeconds = [&](std::int32_t pid) -> std::optional<double> {
        const auto found = cpu.find(pid);
        if (found == cpu.end()) return std::nullopt;
        return secondReading ? found->second.second : found->second.first;
    };
    const auto rows = LocalServiceMonitor(system).scanSynchronously();

    // One pause makes up the rest of the half second after the first reading.
    ASSERT_EQ(pauses.size(), 1u);
    EXPECT_NEAR(pauses[0], 0.49, 1e-9);
    std::map<std::int32_t, std::optional<double>> shares;
    for (const auto& row : rows) shares[row.pid] = row.cpuPercent;
    // The interval runs from just before the first reading to just after the pause.
    const double interval = 0.01 + 0.49 + 0.01;
    ASSERT_EQ(shares.size(), 3u) << "412 listens; 700 and 702 are busy; 701 is idle now";
    EXPECT_NEAR(*shares[412], 0.05 / interval * 100, 1e-9);
    EXPECT_NEAR(*shares[700], 0.45 / interval * 100, 1e-9);  // heavy although ps said 2 %
    EXPECT_EQ(shares[702], 50.0);                            // gone: ps's figure stays
}

TEST(LocalServiceMonitorTest, AMissingOrHungPsLeavesTheListenersAndSaysWhyNothingCanStop) {
    struct Case {
        const char* label;
        std::optional<LocalServiceCommandResult> output;  // none: cannot be started
        bool hangs;
        std::string reason;
    };
    const Case cases[] = {
        {"missing", std::nullopt, false, "/bin/ps не запускается"},
        {"hung", std::nullopt, true, "/bin/ps не ответил за 5 с"},
        {"failed", LocalServiceCommandResult{"", 1}, false, "/bin/ps завершился с ошибкой"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeMachine machine;
        machine.outputs[kAllListeners] = {"p412\ncnode\nu501\nn*:3000\n", 0};
        if (c.output) machine.outputs[kUserTable] = *c.output;
        if (c.hangs) machine.hung.insert(kUserTable);
        const auto scan = machine.monitor().scanWithNotice();
        ASSERT_EQ(scan.services.size(), 1u);
        EXPECT_FALSE(scan.services[0].startToken);
        EXPECT_EQ(scan.notice, "Остановка недоступна: " + c.reason +
                                   ". Без списка процессов Kestrane не может убедиться, что "
                                   "останавливает тот самый процесс.");
    }
    auto healthy = workstation();
    EXPECT_EQ(healthy.monitor().scanWithNotice().notice, std::nullopt);
}

TEST(LocalServiceMonitorTest, HungToolsEndTheScanOrTheStopWithTheirOwnMessage) {
    FakeMachine scanning;
    scanning.hung.insert(kAllListeners);
    try {
        scanning.monitor().scanSynchronously();
        FAIL() << "expected toolTimedOut";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::toolTimedOut);
        EXPECT_STREQ(error.what(),
                     "Не удалось получить список локальных TCP-сервисов: lsof не ответил за 5 с.");
    }

    // A stop whose check hangs on ps says so, not "already ended", and signals nothing.
    auto stopping = lookupOf412();
    stopping.hung.insert(kPs + " -p 412" + kPsColumns);
    try {
        stopping.monitor().stopSynchronously(kListed);
        FAIL() << "expected toolTimedOut";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_STREQ(error.what(),
                     "Не удалось получить список локальных TCP-сервисов: ps не ответил за 5 с.");
    }
    EXPECT_TRUE(stopping.signals.empty());
}

TEST(LocalServiceMonitorTest, StopOpensTheProcessBeforeCheckingIt) {
    // Gone before it could be opened: nothing is looked up or signalled.
    auto gone = lookupOf412();
    gone.openError = ESRCH;
    try {
        gone.monitor().stopSynchronously(kListed);
        FAIL() << "expected noLongerRunning";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::noLongerRunning);
    }
    EXPECT_TRUE(gone.commands.empty());
    EXPECT_TRUE(gone.signals.empty());

    // Opened, and gone by the time of the signal (its pid may belong to another process by
    // now): the handle answers ESRCH and nothing else is tried.
    auto reused = lookupOf412();
    reused.signalErrors[0] = ESRCH;
    try {
        reused.monitor().stopSynchronously(kListed);
        FAIL() << "expected noLongerRunning";
    } catch (const LocalServiceMonitorError& error) {
        EXPECT_EQ(error.kind(), LocalServiceMonitorError::Kind::noLongerRunning);
    }
    EXPECT_EQ(reused.signals, (std::vector<std::pair<std::int32_t, int>>{{412, 0}}));
}

TEST(LocalServiceMonitorTest, DesktopSessionServicesAreNeverListed) {
    auto machine = workstation();
    auto system = machine.system();
    system.isDesktopSessionService = [](std::int32_t pid) { return pid == 977; };
    std::vector<std::int32_t> pids;
    for (const auto& row : LocalServiceMonitor(system).scanSynchronously()) pids.push_back(row.pid);
    EXPECT_EQ(pids, (std::vector<std::int32_t>{412, 700, 702}));
}

TEST(LocalServiceMonitorTest, EmptyListMessageNeverClaimsAllClearAfterAFailure) {
    LocalServicesViewState state;
    EXPECT_EQ(state.emptyListMessage()->title, "Все чисто");
    EXPECT_EQ(state.emptyListMessage()->text,
              "Пользовательские dev-сервисы и ресурсоемкие процессы не найдены. Системные "
              "процессы скрыты.");
    state.isLoading = true;
    EXPECT_EQ(state.emptyListMessage(),
              (LocalServicesMessage{"Сканирование",
                                    "Ищу локальные порты и ресурсоемкие dev-процессы..."}));
    state.isLoading = false;
    state.error = "Не удалось получить список локальных TCP-сервисов: lsof не ответил за 5 с.";
    EXPECT_EQ(state.emptyListMessage(), std::nullopt);  // the error card alone
    state.error.reset();
    state.apply({{kListed}, "Остановка недоступна: ..."}, platform::Date{5});
    EXPECT_EQ(state.emptyListMessage(), std::nullopt);  // rows instead
    EXPECT_EQ(state.notice, "Остановка недоступна: ...");
    EXPECT_EQ(state.updatedAt, platform::Date{5});
    state.apply({}, platform::Date{6});
    EXPECT_EQ(state.notice, std::nullopt);
    EXPECT_TRUE(state.services.empty());
}

}  // namespace
}  // namespace kestrane::localservices
