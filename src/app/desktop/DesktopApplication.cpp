#include "app/desktop/DesktopApplication.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include <QApplication>
#include <QTimer>

#include "app/FetchProvider.h"
#include "app/StatusFileWriter.h"
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

namespace kestrane::app {

namespace {

// The program writes nothing to standard error: Qt's own diagnostics go nowhere.
void discardQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The services list through lsof and ps, stopping with SIGTERM only after re-checking the row.
LocalServicesBackend systemLocalServices() {
    const auto monitor = std::make_shared<const localservices::LocalServiceMonitor>(
        localservices::LocalServiceMonitor::currentSystem());
    return {.scan = [monitor] { return monitor->scanSynchronously(); },
            .stop = [monitor](const LocalService& service) { monitor->stopSynchronously(service); },
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

int runDesktopApplication(int argc, char** argv, const std::vector<std::string>& arguments) {
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
    const ProviderContext context{environment, clock, platform::systemKeychain()};
    SettingsPreferencesStore defaults;
    history::UsageHistoryStore store(history::UsageHistoryStore::defaultFileURL(environment),
                                     clock.now(), platform::Calendar::current());
    StoredUsageHistory history(store);
    TrayStatusItem statusItem;
    AppDelegate delegate(AppDelegate::Dependencies{
        .defaults = defaults,
        .clock = clock,
        .history = history,
        .statusItem = statusItem,
        .fetch = [&context](model::ProviderKind kind) { return fetchProvider(kind, context); },
        .runInBackground = threadRunner(),
        .localServices = systemLocalServices(),
        .arguments = arguments,
        .quit = [] { QCoreApplication::quit(); },
        .observesWake = true,
        .status = StatusFileWriter::forSession(environment),
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

}  // namespace kestrane::app
