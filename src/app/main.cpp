#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "app/FetchProvider.h"
#include "app/ProbeRunner.h"
#include "app/StoredUsageHistory.h"
#include "app/desktop/AppDelegate.h"
#include "app/desktop/BackgroundRunner.h"
#include "app/desktop/SettingsPreferencesStore.h"
#include "app/desktop/TrayStatusItem.h"
#include "history/UsageHistoryStore.h"
#include "localservices/LocalServiceMonitor.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Keychain.h"

namespace kestrane {

namespace {

// The program writes nothing to standard error: Qt's own diagnostics go nowhere.
void discardQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The services list through lsof and ps, stopping with SIGTERM only after re-checking the row.
app::LocalServicesBackend systemLocalServices() {
    const auto monitor = std::make_shared<const localservices::LocalServiceMonitor>(
        localservices::LocalServiceMonitor::currentSystem());
    return {.scan = [monitor] { return monitor->scanSynchronously(); },
            .stop = [monitor](
                        const app::LocalService& service) { monitor->stopSynchronously(service); },
            .pause =
                [](double seconds) {
                    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
                }};
}

bool hasDisplay(const platform::Environment& environment) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const auto value = environment.value(name); value && !value->empty()) return true;
    }
    return false;
}

}  // namespace

// Process entry: the probe mode, or the status-bar application.
struct KestraneApp {
    static int main(int argc, char** argv) {
        // A child or a peer that goes away must never end this process through SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        const std::vector<std::string> arguments(argv, argv + argc);

        if (std::find(arguments.begin(), arguments.end(), "--probe") != arguments.end()) {
            const platform::ProcessEnvironment environment;
            const platform::SystemClock clock;
            const app::ProviderContext context{environment, clock, platform::systemKeychain()};
            const int status = app::ProbeRunner::run(
                arguments,
                [&](model::ProviderKind kind) { return app::fetchProvider(kind, context); },
                std::cout);
            // A provider past its deadline may still be working on its own thread, using the
            // context above and the clients' shared sessions: the process ends without
            // unwinding this frame or running static destructors under it.
            std::cout.flush();
            std::fflush(nullptr);
            std::_Exit(status);
        }

        return runApplication(argc, argv, arguments);
    }

    static int runApplication(int argc, char** argv, const std::vector<std::string>& arguments) {
        const platform::ProcessEnvironment environment;
        if (!hasDisplay(environment)) {
            std::cout << "Нет графического сеанса: Kestrane работает в области уведомлений. "
                         "Для разовой проверки запустите kestrane --probe."
                      << std::endl;
            return 1;
        }
        qInstallMessageHandler(discardQtMessage);
        QApplication application(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("Kestrane"));
        QApplication::setApplicationName(QStringLiteral("Kestrane"));
        // Closing the panel leaves the program running in the tray.
        QApplication::setQuitOnLastWindowClosed(false);

        const platform::SystemClock clock;
        const app::ProviderContext context{environment, clock, platform::systemKeychain()};
        app::SettingsPreferencesStore defaults;
        history::UsageHistoryStore store(history::UsageHistoryStore::defaultFileURL(environment),
                                         clock.now(), platform::Calendar::current());
        app::StoredUsageHistory history(store);
        app::TrayStatusItem statusItem;
        app::AppDelegate delegate(app::AppDelegate::Dependencies{
            .defaults = defaults,
            .clock = clock,
            .history = history,
            .statusItem = statusItem,
            .fetch =
                [&context](model::ProviderKind kind) { return app::fetchProvider(kind, context); },
            .runInBackground = app::threadRunner(),
            .localServices = systemLocalServices(),
            .arguments = arguments,
            .quit = [] { QCoreApplication::quit(); },
            .observesWake = true,
        });
        QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                         [&delegate] { delegate.applicationWillTerminate(); });
        QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
        const int status = QApplication::exec();
        // Fetches still running on worker threads hold what this frame owns; the process ends
        // here, without unwinding under them. Nothing is left to save: every change was
        // written when it happened.
        std::cout.flush();
        std::fflush(nullptr);
        std::_Exit(status);
    }
};

}  // namespace kestrane

int main(int argc, char** argv) { return kestrane::KestraneApp::main(argc, argv); }
