#include "app/cli/ServicesCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include <unistd.h>

#include "localservices/LocalServiceMonitor.h"
#include "localservices/LocalServiceMonitorError.h"
#include "localservices/LocalServicesViewState.h"
#include "model/DateFormatting.h"
#include "platform/ByteCountFormatter.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "platform/ProcessIdentity.h"

namespace kestrane::app::ServicesCommand {
namespace {

using localservices::LocalService;
using localservices::LocalServiceMonitorError;
using platform::Json;

std::string abbreviatedHome(const std::string& path, const std::filesystem::path& home) {
    const std::string prefix = home.string();
    if (prefix.size() > 1 && (path == prefix || path.rfind(prefix + "/", 0) == 0)) {
        // Appended rather than "~" + std::string&&, which GCC 12's optimiser takes for an
        // overlapping copy (-Wrestrict).
        std::string shown = "~";
        shown.append(path, prefix.size());
        return shown;
    }
    return path;
}

// The same words as the card of the services screen.
void printCard(const LocalService& service, const System& system, std::ostream& out) {
    out << service.name << " · Работает\n";
    if (!service.ports.empty()) {
        out << "  Порт: ";
        for (std::size_t i = 0; i < service.ports.size(); ++i) {
            out << (i ? ", " : "") << service.ports[i];
        }
        out << " • PID " << service.pid << '\n';
    } else {
        out << "  Без TCP-порта • PID " << service.pid << '\n';
    }
    std::vector<std::string> metrics;
    if (service.cpuPercent) {
        char text[32];
        std::snprintf(text, sizeof text, "CPU %.1f%%", *service.cpuPercent);
        metrics.emplace_back(text);
    }
    if (service.memoryBytes) {
        metrics.push_back("RAM " + platform::ByteCountFormatter::memory(*service.memoryBytes));
    }
    if (service.startedAt) {
        metrics.push_back("Старт " +
                          system.calendar.format(*service.startedAt, "d MMM, HH:mm", "ru_RU"));
    }
    if (!metrics.empty()) {
        out << "  ";
        for (std::size_t i = 0; i < metrics.size(); ++i) out << (i ? " • " : "") << metrics[i];
        out << '\n';
    }
    if (service.project) {
        out << "  Проект: " << service.project->name << " ("
            << abbreviatedHome(service.project->path, system.home) << ")\n";
    } else {
        out << "  Проект: неразобранный";
        if (service.workingDirectory) {
            out << " • " << abbreviatedHome(*service.workingDirectory, system.home);
        }
        out << '\n';
    }
    out << "  Команда: " << service.command << '\n';
    if (!service.startToken || service.pid < 2) out << "  Остановка недоступна\n";
}

Json serviceValue(const LocalService& service) {
    Json project = nullptr;
    if (service.project) {
        project = {{"name", service.project->name}, {"path", service.project->path}};
    }
    return {
        {"pid", service.pid},
        {"name", service.name},
        {"state", "running"},
        {"ports", service.ports},
        {"project", project},
        {"workingDirectory",
         service.workingDirectory ? Json(*service.workingDirectory) : Json(nullptr)},
        {"cpuPercent", service.cpuPercent ? Json(*service.cpuPercent) : Json(nullptr)},
        {"memoryBytes", service.memoryBytes ? Json(*service.memoryBytes) : Json(nullptr)},
        {"startedAt", service.startedAt ? Json(platform::formatInternetDateTime(*service.startedAt))
                                        : Json(nullptr)},
        {"command", service.command},
        {"stoppable", service.startToken.has_value() && service.pid >= 2}};
}

std::string dump(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

int list(const System& system, bool json, std::ostream& out) {
    localservices::LocalServicesViewState state;
    try {
        state.apply(system.scan(), system.now);
    } catch (...) {
        state.error = localservices::describeServicesFailure(std::current_exception());
    }
    if (json) {
        Json services = Json::array();
        for (const LocalService& service : state.services)
            services.push_back(serviceValue(service));
        out << dump({{"ok", !state.error},
                     {"error", state.error ? Json(*state.error) : Json(nullptr)},
                     {"notice", state.notice ? Json(*state.notice) : Json(nullptr)},
                     {"services", services}});
        return state.error ? 1 : 0;
    }
    if (state.error) {
        out << "Требуется внимание: " << *state.error << '\n';
        return 1;
    }
    if (const auto empty = state.emptyListMessage()) {
        out << empty->title << ": " << empty->text << '\n';
    } else {
        out << "Найдено: " << state.services.size() << " • "
            << model::DateFormatting::updated(system.now, system.calendar) << '\n';
        for (const LocalService& service : state.services) printCard(service, system, out);
    }
    if (state.notice) out << *state.notice << '\n';
    return 0;
}

int stop(const System& system, std::int32_t pid, std::ostream& out) {
    // A refusal is the panel's own message and then why: the panel shows that only by
    // leaving the process out of its list.
    const auto refuse = [&](const std::string& reason) {
        out << LocalServiceMonitorError::protectedProcess().what() << ' ' << reason << '\n';
        return 1;
    };
    // Never looked up: 0 and negative numbers would address process groups.
    if (pid < 1) return refuse("Номера процессов начинаются с 1.");
    if (pid == 1) return refuse("PID 1 — первый процесс системы, от него зависят все остальные.");
    if (pid == system.ownPID) return refuse("Это сам Kestrane.");
    localservices::LocalServiceScan scan;
    try {
        scan = system.scan();
    } catch (...) {
        out << localservices::describeServicesFailure(std::current_exception()) << '\n';
        return 1;
    }
    const auto row =
        std::find_if(scan.services.begin(), scan.services.end(),
                     [pid](const LocalService& service) { return service.pid == pid; });
    if (row == scan.services.end()) {
        // Only rows of the list can be stopped, as in the panel. A pid that is in use by
        // nobody is not called ended: it may never have been given out.
        const auto owner = system.owner(pid);
        if (!owner) {
            out << "Процесса с PID " << pid << " нет.\n";
            return 1;
        }
        if (*owner != system.userID) {
            return refuse(
                "Он принадлежит другому пользователю, а останавливать можно только свои "
                "процессы.");
        }
        return refuse(
            "Его нет в списке локальных служб (kestrane --services), а остановить "
            "можно только службу из списка.");
    }
    const LocalService service = *row;
    if (!service.startToken) {
        // The panel offers no stop button for it: without a start time it cannot be re-checked.
        out << scan.notice.value_or(LocalServiceMonitorError::processChanged().what()) << '\n';
        return 1;
    }
    const auto outcome =
        localservices::stopAndRescan({system.scan, system.stop, system.pause}, service);
    if (outcome.error) {
        out << *outcome.error << '\n';
        return 1;
    }
    out << "SIGTERM отправлен: " << service.name << " (PID " << pid << ") остановлен.\n";
    return 0;
}

System currentSystem() {
    const auto monitor = std::make_shared<const localservices::LocalServiceMonitor>(
        localservices::LocalServiceMonitor::currentSystem());
    const platform::ProcessEnvironment environment;
    const platform::SystemClock clock;
    return System{
        .scan = [monitor] { return monitor->scanWithNotice(); },
        .stop = [monitor](const LocalService& service) { monitor->stopSynchronously(service); },
        .pause =
            [](double seconds) {
                std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            },
        .owner = [](std::int32_t pid) -> std::optional<std::uint32_t> {
            return platform::processOwner(pid);
        },
        .userID = static_cast<std::uint32_t>(::getuid()),
        .ownPID = static_cast<std::int32_t>(::getpid()),
        .now = clock.now(),
        .calendar = platform::Calendar::current(),
        .home = environment.homeDirectory(),
    };
}

}  // namespace kestrane::app::ServicesCommand
