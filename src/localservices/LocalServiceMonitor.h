#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "localservices/LocalProcessMetadata.h"
#include "localservices/LocalProjectResolver.h"
#include "localservices/LocalService.h"
#include "localservices/LocalServiceCommand.h"
#include "localservices/LocalServiceMonitorError.h"
#include "localservices/LocalServiceParser.h"
#include "localservices/LocalServiceScan.h"
#include "platform/Calendar.h"

namespace kestrane::localservices {

// Lists the current user's local development services (listening processes and heavy
// processes inside a project) and stops one of them safely. Keeps nothing between calls:
// every scan runs lsof and ps afresh. Failures are LocalServiceMonitorError.
class LocalServiceMonitor {
  public:
    using CommandRunner = std::function<LocalServiceCommandResult(
        const std::string& executable, const std::vector<std::string>& arguments)>;
    // One process to signal, opened before it is re-checked: whatever happens to its pid
    // afterwards, `send` reaches that process or fails (ESRCH once it has ended).
    struct SignalTarget {
        // 0, or the errno value of opening (ESRCH: no such process).
        int error = 0;
        // 0 on success, else the errno value.
        std::function<int(int signal)> send;
    };
    using ProcessOpener = std::function<SignalTarget(std::int32_t pid)>;

    // What the monitor needs from the machine; tests replace parts of it.
    struct System {
        CommandRunner run;
        LocalProjectResolver::FileExists fileExists;
        ProcessOpener openProcess;
        std::uint32_t userID = 0;
        std::int32_t ownPID = 0;
        // Zone in which ps prints start times.
        platform::Calendar calendar;
        std::string lsofPath;
        std::string psPath;

        // CPU time used so far by a process, in seconds; nothing when unknown. When set, a
        // process's CPU share is measured over `cpuSampleSeconds` rather than taken from ps,
        // whose figure on Linux is the average over the whole life of the process.
        std::function<std::optional<double>(std::int32_t pid)> cpuSeconds;
        // A steady clock in seconds and a way to wait on it, for that measurement.
        std::function<double()> monotonicSeconds;
        std::function<void(double seconds)> sleep;
        double cpuSampleSeconds = 0.5;
        // Services of the user's desktop session, never listed; unset: none.
        std::function<bool(std::int32_t pid)> isDesktopSessionService;
    };

    // The real tools, file system, signals, user and time zone of this process; each tool
    // is stopped after `toolLimit`.
    static System currentSystem(
        std::chrono::milliseconds toolLimit = LocalServiceCommand::defaultTimeLimit);

    explicit LocalServiceMonitor(System system);

    // Blocking. The rows sorted: listeners by lowest port, then the rest by name.
    std::vector<LocalService> scanSynchronously() const;
    // The same rows, with a note when stopping is impossible and why.
    LocalServiceScan scanWithNotice() const;
    // scanSynchronously() on a background thread; the future holds its rows or its error.
    std::future<std::vector<LocalService>> scan() const;

    // The process as it looks now, or nothing when it is gone, not this user's, pid 0 or 1,
    // or this application.
    std::optional<LocalService> service(std::int32_t pid) const;

    // Sends SIGTERM to `service`'s process once it has been confirmed to be the same process
    // (pid, owner, start time, name, ports). Never any other signal, never to pid 0 or 1 or
    // this application. The process is opened before the check and signalled through that
    // handle, so a pid reused meanwhile is never hit.
    void stopSynchronously(const LocalService& service) const;
    // stopSynchronously() on a background thread.
    std::future<void> stop(const LocalService& service) const;

    std::map<std::int32_t, LocalProcessMetadata> processMetadata(std::uint32_t ownerUID) const;
    // `pidList`: decimal pids joined by ",".
    std::map<std::int32_t, LocalProcessMetadata> processMetadata(const std::string& pidList) const;
    std::map<std::int32_t, std::string> workingDirectories(const std::string& pidList) const;

    // Listeners first, by lowest port; then by name ignoring case, in the user's language.
    static void sortServices(std::vector<LocalService>& services);

  private:
    struct ProcessTable {
        std::map<std::int32_t, LocalProcessMetadata> processes;
        // Why ps gave nothing; it was then not run successfully.
        std::optional<std::string> failure;
        // Set when ps hung and was stopped.
        std::optional<LocalServiceMonitorError> timeout;
    };

    std::vector<LocalListenerRecord> listenerQuery(const std::vector<std::string>& arguments) const;
    ProcessTable psQuery(std::vector<std::string> selection) const;
    void measureRecentCPU(std::map<std::int32_t, LocalProcessMetadata>& table) const;
    LocalService makeRow(std::int32_t pid, const LocalListenerRecord* listener,
                         const LocalProcessMetadata* metadata, const std::string& rawCommand,
                         const std::string& baseName,
                         const std::optional<std::string>& workingDirectory,
                         const std::optional<LocalServiceProject>& project) const;

    System system_;
};

}  // namespace kestrane::localservices
