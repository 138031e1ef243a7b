#include "localservices/LocalServiceMonitor.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <thread>

#include "localservices/LocalServiceClassifier.h"
#include "localservices/LocalServiceCommandDisplay.h"
#include "localservices/LocalServiceMonitorError.h"
#include "localservices/LocalServiceSafety.h"
#include "platform/ChildProcess.h"
#include "platform/DesktopApplications.h"
#include "platform/ProcessCPUTime.h"
#include "platform/ProcessHandle.h"
#include "platform/SystemTools.h"
#include "platform/UnicodeText.h"

namespace kestrane::localservices {
namespace {

const std::vector<std::string> kPsColumns{
    "-o", "pid=", "-o", "uid=", "-o", "pcpu=", "-o", "rss=", "-o", "lstart=", "-o", "command="};

constexpr std::string_view kFallbackName = "process";

std::string joinedPids(const std::vector<std::int32_t>& pids) {
    std::string list;
    for (const auto pid : pids) {
        if (!list.empty()) list += ',';
        list += std::to_string(pid);
    }
    return list;
}

bool isHeavy(const LocalProcessMetadata& metadata) {
    if (metadata.cpuPercent && *metadata.cpuPercent >= LocalServiceClassifier::heavyCPUPercent) {
        return true;
    }
    return metadata.memoryBytes &&
           *metadata.memoryBytes >= LocalServiceClassifier::heavyMemoryBytes;
}

}  // namespace

LocalServiceMonitor::System LocalServiceMonitor::currentSystem(
    std::chrono::milliseconds toolLimit) {
    using Steady = std::chrono::steady_clock;
    return System{
        .run =
            [toolLimit](const std::string& executable, const std::vector<std::string>& arguments) {
                return LocalServiceCommand::run(executable, arguments,
                                                LocalServiceCommand::maximumOutputBytes, toolLimit);
            },
        .fileExists = LocalProjectResolver::fileExists,
        .openProcess =
            [](std::int32_t pid) {
                auto handle =
                    std::make_shared<platform::ProcessHandle>(platform::ProcessHandle::open(pid));
                return SignalTarget{handle->error(),
                                    [handle](int signal) { return handle->signal(signal); }};
            },
        .userID = ::getuid(),
        .ownPID = ::getpid(),
        .calendar = platform::Calendar::current(),
        .lsofPath = platform::lsofExecutable(),
        .psPath = platform::psExecutable(),
        .cpuSeconds = [](std::int32_t pid) { return platform::processCPUSeconds(pid); },
        .monotonicSeconds =
            [] { return std::chrono::duration<double>(Steady::now().time_since_epoch()).count(); },
        .sleep =
            [](double seconds) {
                std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            },
        .isDesktopSessionService =
            [](std::int32_t pid) {
                return platform::DesktopApplications::isDesktopSessionService(pid);
            },
    };
}

LocalServiceMonitor::LocalServiceMonitor(System system) : system_(std::move(system)) {}

std::vector<LocalListenerRecord> LocalServiceMonitor::listenerQuery(
    const std::vector<std::string>& arguments) const {
    const auto result = system_.run(system_.lsofPath, arguments);
    // lsof exits with 1 when it found nothing to list.
    if (result.status != 0 && result.status != 1) throw LocalServiceMonitorError::scanFailed();
    return LocalServiceParser::listeners(result.output);
}

LocalServiceMonitor::ProcessTable LocalServiceMonitor::psQuery(
    std::vector<std::string> selection) const {
    selection.insert(selection.end(), kPsColumns.begin(), kPsColumns.end());
    // Without the process table the list still shows the listeners, just with less detail,
    // and none of them can be checked before a stop.
    ProcessTable table;
    try {
        const auto result = system_.run(system_.psPath, selection);
        if (result.status != 0) {
            table.failure = "завершился с ошибкой";
            return table;
        }
        table.processes = LocalServiceParser::processMetadata(result.output, system_.calendar);
    } catch (const LocalServiceMonitorError& error) {
        if (error.kind() == LocalServiceMonitorError::Kind::toolTimedOut) {
            table.timeout = error;
            const std::string message = error.what();
            // "... ps не ответил за 5 с." -> "не ответил за 5 с"
            const auto at = message.find(" не ответил");
            table.failure = at == std::string::npos
                                ? std::string("не ответил")
                                : message.substr(at + 1, message.size() - at - 2);
        } else {
            table.failure = "не запускается";
        }
    }
    return table;
}

std::map<std::int32_t, LocalProcessMetadata> LocalServiceMonitor::processMetadata(
    std::uint32_t ownerUID) const {
    return psQuery({"-U", std::to_string(ownerUID)}).processes;
}

std::map<std::int32_t, LocalProcessMetadata> LocalServiceMonitor::processMetadata(
    const std::string& pidList) const {
    return psQuery({"-p", pidList}).processes;
}

void LocalServiceMonitor::measureRecentCPU(
    std::map<std::int32_t, LocalProcessMetadata>& table) const {
    if (!system_.cpuSeconds || !system_.monotonicSeconds || table.empty()) return;
    std::vector<std::pair<LocalProcessMetadata*, double>> first;
    first.reserve(table.size());
    const double start = system_.monotonicSeconds();
    for (auto& [pid, metadata] : table) {
        if (const auto seconds = system_.cpuSeconds(pid)) first.emplace_back(&metadata, *seconds);
    }
    if (first.empty()) return;
    if (const double waited = system_.monotonicSeconds() - start;
        waited < system_.cpuSampleSeconds && system_.sleep) {
        system_.sleep(system_.cpuSampleSeconds - waited);
    }
    const double interval = system_.monotonicSeconds() - start;
    if (interval <= 0) return;
    for (const auto& [metadata, before] : first) {
        // A process gone in between keeps what ps said.
        if (const auto after = system_.cpuSeconds(metadata->pid)) {
            metadata->cpuPercent = std::max(0.0, *after - before) / interval * 100.0;
        }
    }
}

std::map<std::int32_t, std::string> LocalServiceMonitor::workingDirectories(
    const std::string& pidList) const {
    try {
        const auto result =
            system_.run(system_.lsofPath, {"-a", "-p", pidList, "-d", "cwd", "-Fpn"});
        if (result.status != 0 && result.status != 1) return {};
        return LocalServiceParser::workingDirectories(result.output);
    } catch (const LocalServiceMonitorError&) {
        return {};
    }
}

LocalService LocalServiceMonitor::makeRow(std::int32_t pid, const LocalListenerRecord* listener,
                                          const LocalProcessMetadata* metadata,
                                          const std::string& rawCommand,
                                          const std::string& baseName,
                                          const std::optional<std::string>& workingDirectory,
                                          const std::optional<LocalServiceProject>& project) const {
    LocalService row;
    row.pid = pid;
    row.ownerUID = metadata ? metadata->uid : (listener ? listener->uid : system_.userID);
    row.name = LocalServiceCommandDisplay::readableName(rawCommand, baseName);
    row.command = LocalServiceCommandDisplay::redact(rawCommand);
    if (listener) row.ports.assign(listener->ports.begin(), listener->ports.end());
    if (metadata) {
        row.cpuPercent = metadata->cpuPercent;
        row.memoryBytes = metadata->memoryBytes;
        row.startedAt = metadata->startedAt;
        row.startToken = metadata->startToken;
    }
    row.workingDirectory = workingDirectory;
    row.project = project;
    return row;
}

LocalServiceScan LocalServiceMonitor::scanWithNotice() const {
    std::map<std::int32_t, LocalListenerRecord> listeners;
    for (auto& record : listenerQuery({"-nP", "-iTCP", "-sTCP:LISTEN", "-Fpcun"})) {
        // Only this user's processes, and never this application's own sockets.
        if (record.uid == system_.userID && record.pid != system_.ownPID) {
            listeners.emplace(record.pid, std::move(record));
        }
    }

    auto processTable = psQuery({"-U", std::to_string(system_.userID)});
    LocalServiceScan scan;
    if (processTable.failure) {
        scan.notice = "Остановка недоступна: " + system_.psPath + " " + *processTable.failure +
                      ". Без списка процессов Kestrane не может убедиться, что останавливает "
                      "тот самый процесс.";
    }
    auto& table = processTable.processes;
    measureRecentCPU(table);
    std::set<std::int32_t> pids;
    for (const auto& [pid, record] : listeners) pids.insert(pid);
    for (const auto& [pid, metadata] : table) {
        // The own pid never reaches the list: it could only be signalled by mistake.
        if (pid != system_.ownPID && isHeavy(metadata)) pids.insert(pid);
    }
    if (pids.empty()) return scan;

    const std::vector<std::int32_t> ordered(pids.begin(), pids.end());
    const auto directories = workingDirectories(joinedPids(ordered));

    std::vector<LocalService> rows;
    for (const auto pid : ordered) {
        const auto listenerEntry = listeners.find(pid);
        const LocalListenerRecord* listener =
            listenerEntry == listeners.end() ? nullptr : &listenerEntry->second;
        const auto metadataEntry = table.find(pid);
        const LocalProcessMetadata* metadata =
            metadataEntry != table.end() && metadataEntry->second.uid == system_.userID
                ? &metadataEntry->second
                : nullptr;
        if (!listener && !metadata) continue;

        const std::string baseName = listener ? listener->name : std::string(kFallbackName);
        const std::string rawCommand = metadata ? metadata->command : baseName;
        std::optional<std::string> workingDirectory;
        if (const auto directory = directories.find(pid); directory != directories.end()) {
            workingDirectory = directory->second;
        }
        const auto project = LocalProjectResolver::resolve(workingDirectory, system_.fileExists);

        if (!LocalServiceClassifier::isRelevant(baseName, rawCommand, workingDirectory, project)) {
            continue;
        }
        if (!listener && (!metadata || !LocalServiceClassifier::isNotableProjectProcess(
                                           *metadata, workingDirectory, project))) {
            continue;
        }
        // Looked at last: it reads a file per process.
        if (system_.isDesktopSessionService && system_.isDesktopSessionService(pid)) continue;
        rows.push_back(
            makeRow(pid, listener, metadata, rawCommand, baseName, workingDirectory, project));
    }
    sortServices(rows);
    scan.services = std::move(rows);
    return scan;
}

std::vector<LocalService> LocalServiceMonitor::scanSynchronously() const {
    return scanWithNotice().services;
}

std::future<std::vector<LocalService>> LocalServiceMonitor::scan() const {
    // The task owns a copy of everything it uses, so it may outlive this monitor.
    return std::async(std::launch::async,
                      [monitor = *this] { return monitor.scanSynchronously(); });
}

std::optional<LocalService> LocalServiceMonitor::service(std::int32_t pid) const {
    if (pid < 2 || pid == system_.ownPID) return std::nullopt;
    const std::string pidText = std::to_string(pid);

    const auto lookup = psQuery({"-p", pidText});
    // A hung ps says nothing about the process; "already ended" would be a guess.
    if (lookup.timeout) throw *lookup.timeout;
    const auto& table = lookup.processes;
    const auto entry = table.find(pid);
    if (entry == table.end() || entry->second.uid != system_.userID) return std::nullopt;
    const LocalProcessMetadata& metadata = entry->second;

    const auto records =
        listenerQuery({"-nP", "-a", "-p", pidText, "-iTCP", "-sTCP:LISTEN", "-Fpcun"});
    const auto record = std::ranges::find(records, pid, &LocalListenerRecord::pid);
    const LocalListenerRecord* listener = record == records.end() ? nullptr : &*record;

    std::optional<std::string> workingDirectory;
    const auto directories = workingDirectories(pidText);
    if (const auto directory = directories.find(pid); directory != directories.end()) {
        workingDirectory = directory->second;
    }
    const auto project = LocalProjectResolver::resolve(workingDirectory, system_.fileExists);

    const std::string baseName = listener ? listener->name : std::string(kFallbackName);
    LocalService row =
        makeRow(pid, listener, &metadata, metadata.command, baseName, workingDirectory, project);
    row.ownerUID = system_.userID;
    return row;
}

void LocalServiceMonitor::stopSynchronously(const LocalService& listed) const {
    // Checked before anything else: these pids are never looked up, let alone signalled
    // (0 and negative pids would address whole process groups).
    const auto isProtected = [&](std::int32_t pid) { return pid < 2 || pid == system_.ownPID; };
    if (isProtected(listed.pid)) throw LocalServiceMonitorError::protectedProcess();

    // Opened before the check, so that the signal below reaches the checked process or
    // nothing, even if the pid is reused in between.
    const SignalTarget target = system_.openProcess(listed.pid);
    if (target.error == ESRCH) throw LocalServiceMonitorError::noLongerRunning();

    const auto current = service(listed.pid);
    if (!current) throw LocalServiceMonitorError::noLongerRunning();
    if (!listed.ports.empty() && current->ports.empty()) {
        throw LocalServiceMonitorError::noLongerListening();
    }
    if (!LocalServiceSafety::representsSameProcess(listed, *current)) {
        throw LocalServiceMonitorError::processChanged();
    }
    if (isProtected(current->pid)) throw LocalServiceMonitorError::protectedProcess();
    if (target.error != 0) {
        throw LocalServiceMonitorError::signalFailed(platform::describeSystemError(target.error));
    }
    if (target.send(0) != 0) throw LocalServiceMonitorError::noLongerRunning();
    if (const int error = target.send(SIGTERM); error != 0) {
        throw LocalServiceMonitorError::signalFailed(platform::describeSystemError(error));
    }
}

std::future<void> LocalServiceMonitor::stop(const LocalService& service) const {
    return std::async(std::launch::async,
                      [monitor = *this, service] { monitor.stopSynchronously(service); });
}

void LocalServiceMonitor::sortServices(std::vector<LocalService>& services) {
    const platform::CaseInsensitiveCollator collator;
    std::ranges::sort(services, [&](const LocalService& a, const LocalService& b) {
        if (a.ports.empty() != b.ports.empty()) return !a.ports.empty();
        if (!a.ports.empty() && a.ports.front() != b.ports.front()) {
            return a.ports.front() < b.ports.front();
        }
        return collator.compare(a.name, b.name) < 0;
    });
}

}  // namespace kestrane::localservices
