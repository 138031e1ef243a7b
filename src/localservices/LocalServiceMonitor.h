#pragma once

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
#include "localservices/LocalServiceParser.h"
#include "platform/Calendar.h"

namespace kestrane::localservices {

// Lists the current user's local development services (listening processes and heavy
// processes inside a project) and stops one of them safely. Keeps nothing between calls:
// every scan runs lsof and ps afresh. Failures are LocalServiceMonitorError.
class LocalServiceMonitor {
  public:
    using CommandRunner = std::function<LocalServiceCommandResult(
        const std::string& executable, const std::vector<std::string>& arguments)>;
    // Sends a signal to a process; 0 on success, else the errno value.
    using SignalSender = std::function<int(std::int32_t pid, int signal)>;

    // What the monitor needs from the machine; tests replace parts of it.
    struct System {
        CommandRunner run;
        LocalProjectResolver::FileExists fileExists;
        SignalSender sendSignal;
        std::uint32_t userID = 0;
        std::int32_t ownPID = 0;
        // Zone in which ps prints start times.
        platform::Calendar calendar;
        std::string lsofPath;
        std::string psPath;
    };

    // The real tools, file system, signals, user and time zone of this process.
    static System currentSystem();

    explicit LocalServiceMonitor(System system);

    // Blocking. The rows sorted: listeners by lowest port, then the rest by name.
    std::vector<LocalService> scanSynchronously() const;
    // scanSynchronously() on a background thread; the future holds its rows or its error.
    std::future<std::vector<LocalService>> scan() const;

    // The process as it looks now, or nothing when it is gone, not this user's, pid 0 or 1,
    // or this application.
    std::optional<LocalService> service(std::int32_t pid) const;

    // Sends SIGTERM to `service`'s process once it has been confirmed to be the same process
    // (pid, owner, start time, name, ports). Never any other signal, never to pid 0 or 1 or
    // this application.
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
    std::vector<LocalListenerRecord> listenerQuery(const std::vector<std::string>& arguments) const;
    std::map<std::int32_t, LocalProcessMetadata> psQuery(std::vector<std::string> selection) const;
    LocalService makeRow(std::int32_t pid, const LocalListenerRecord* listener,
                         const LocalProcessMetadata* metadata, const std::string& rawCommand,
                         const std::string& baseName,
                         const std::optional<std::string>& workingDirectory,
                         const std::optional<LocalServiceProject>& project) const;

    System system_;
};

}  // namespace kestrane::localservices
