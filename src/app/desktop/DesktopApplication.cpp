#include "app/desktop/DesktopApplication.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include "app/board/StoreBackedHistory.h"
#include "app/board/TimeZoneWatch.h"
#include "app/desktop/BackgroundRunner.h"
#include "app/desktop/ColorSchemeWatcher.h"
#include "app/desktop/DesktopCoordinator.h"
#include "app/desktop/DesktopNotifications.h"
#include "app/desktop/QSettingsStore.h"
#include "app/desktop/SingleInstance.h"
#include "app/desktop/SystemTrayIcons.h"
#include "app/settings/Autostart.h"
#include "app/settings/FirstStartToggles.h"
#include "app/settings/ProviderPreferences.h"

#include "app/status/StatusFileWriter.h"
#include "history/UsageHistoryStore.h"
#include "localservices/LocalServiceMonitor.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SecretStore.h"
#include "providers/FetchProvider.h"
#include "providers/StoredSignIn.h"

namespace kestrane::app {

namespace {

// The one line a start that cannot go on leaves on standard error.
[[noreturn]] void startFailed(const char* line) {
    std::cerr << line << std::endl;
    std::_Exit(1);
}

// The program writes nothing to standard error: Qt's own diagnostics go nowhere, except the
// fatal one (no display to connect to, no platform plugin), which ends the start. Qt would
// abort with an English text; the user gets one Russian line and a plain exit status.
void handleQtMessage(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg) return;
    startFailed(
        "Kestrane не удалось запустить: графический сеанс недоступен (нет связи с дисплеем или "
        "нет модуля платформы Qt; для Wayland нужен пакет qt6-wayland).");
}

// Under Wayland the panel is a native Wayland window (a fixed size keeps tiling compositors
// from tiling it); X11 through XWayland only when the Wayland plugin is missing.
void preferWayland(const platform::Environment& environment) {
    const auto wayland = environment.value("WAYLAND_DISPLAY");
    const auto chosen = environment.value("QT_QPA_PLATFORM");
    if (wayland && !wayland->empty() && (!chosen || chosen->empty())) {
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    }
}

QString runtimeDirectory(const platform::Environment& environment) {
    if (const auto value = environment.value("XDG_RUNTIME_DIR"); value && !value->empty()) {
        return QString::fromStdString(*value);
    }
    return QDir::tempPath() + QStringLiteral("/kestrane-") + QString::number(::getuid());
}

// The services list through lsof and ps, stopping with SIGTERM only after re-checking the row.
LocalServicesBackend systemLocalServices() {
    const auto monitor = std::make_shared<const localservices::LocalServiceMonitor>(
        localservices::LocalServiceMonitor::currentSystem());
    return {.scan = [monitor] { return monitor->scanWithNotice(); },
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

// KESTRANE_REFRESH_INTERVAL: whole seconds from 1 to one day; anything else keeps the default.
int refreshInterval(const platform::Environment& environment) {
    const auto text = environment.value("KESTRANE_REFRESH_INTERVAL");
    if (!text || text->empty() || text->size() > 5) return DesktopCoordinator::backgroundInterval;
    int seconds = 0;
    for (const char digit : *text) {
        if (digit < '0' || digit > '9') return DesktopCoordinator::backgroundInterval;
        seconds = seconds * 10 + (digit - '0');
    }
    return seconds >= 1 && seconds <= 86'400 ? seconds * 1000
                                             : DesktopCoordinator::backgroundInterval;
}

}  // namespace

int runDesktopApplication(int argc, char** argv, const std::vector<std::string>& arguments) {
    // Every screen shows dates and times; without ICU's data they would be blank.
    if (!platform::Calendar::hasLocaleData()) {
        startFailed(platform::Calendar::missingLocaleDataMessage().c_str());
    }
    const platform::ProcessEnvironment environment;
    if (!hasDisplay(environment)) {
        startFailed(
            "Нет графического сеанса: Kestrane работает в области уведомлений. "
            "Для разовой проверки запустите kestrane --probe.");
    }
    qInstallMessageHandler(handleQtMessage);
    preferWayland(environment);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrane"));
    QApplication::setApplicationName(QStringLiteral("Kestrane"));
    // The Wayland app id of every window, which window rules match (docs/integrations.md), and
    // what desktops find the icon and name by: the desktop file's name without ".desktop",
    // set before any window exists.
    QApplication::setDesktopFileName(QStringLiteral("io.github.kestrane.Kestrane"));
    // Closing the panel leaves the program running in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    // One program per session, and so one writer of the history file: a later start opens
    // the running program's panel and ends.
    const QString runtime = runtimeDirectory(environment);
    if (!QDir(runtime).exists() && QDir().mkpath(runtime)) {
        // Our own fallback folder under /tmp: for this user only.
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    SingleInstance instance(runtime);
    switch (instance.claim()) {
        case SingleInstance::Outcome::first:
            break;
        case SingleInstance::Outcome::handedOver:
            std::_Exit(0);
        case SingleInstance::Outcome::unreachable:
            startFailed("Kestrane уже запущен, но не отвечает.");
    }

    const platform::SystemClock clock;
    const providers::ProviderContext context{environment, clock, platform::systemSecretStore()};
    QSettingsStore settingsStore;
    // A first start switches on the providers this machine is already signed in to.
    storeFirstStartToggles(settingsStore, [&context](model::ProviderKind kind) {
        return providers::hasStoredSignIn(kind, context);
    });
    const auto historyFile = history::UsageHistoryStore::defaultFilePath(environment);
    // Written by a thread of its own: the panel never waits for the disk.
    history::UsageHistoryStore store(historyFile, clock.now(), platform::Calendar::current(),
                                     history::UsageHistoryStore::BackgroundSaving{});
    StoreBackedHistory history(store, clock);
    TimeZoneWatch timeZone(store.calendar(), platform::Calendar::currentTimeZoneIdentifier);
    const DesktopNotifications desktopNotifications;
    UsageNotifier notifier(settingsStore, NotificationStateFile::besideHistory(historyFile),
                           [&desktopNotifications](const UsageNotification& notification) {
                               desktopNotifications.send(notification);
                           });
    ColorSchemeWatcher colorScheme;
    SystemTrayIcons trayIcons([&colorScheme, &settingsStore] {
        return ColorSchemeWatcher::iconColor(ProviderPreferences(settingsStore).trayIconStyle(),
                                             colorScheme.portalScheme(), QApplication::palette());
    });
    QObject::connect(&colorScheme, &ColorSchemeWatcher::changed, &trayIcons,
                     [&trayIcons] { trayIcons.redraw(); });
    const Autostart autostart =
        Autostart::forUser(environment, QCoreApplication::applicationFilePath().toStdString());
    DesktopCoordinator delegate(DesktopCoordinator::Dependencies{
        .settingsStore = settingsStore,
        .clock = clock,
        .history = history,
        .trayIcons = trayIcons,
        .fetch =
            [&context](const model::Account& account) {
                return providers::fetchAccount(account, context);
            },
        .runInBackground = threadRunner(),
        .localServices = systemLocalServices(),
        .arguments = arguments,
        .observesWake = true,
        .notifier = &notifier,
        .refreshInterval = refreshInterval(environment),
        .timeZone = &timeZone,
        .startAtLogin = &autostart,
        .status = StatusFileWriter::forSession(environment, clock),
        .tracksForecasts = true,
    });
    QObject::connect(&delegate, &DesktopCoordinator::quitRequested, &application,
                     &QCoreApplication::quit);
    QObject::connect(&delegate, &DesktopCoordinator::trayIconStyleChanged, &trayIcons,
                     &SystemTrayIcons::redraw);
    delegate.setDesktopPrefersDark(colorScheme.prefersDark());
    QObject::connect(
        &colorScheme, &ColorSchemeWatcher::changed, &delegate,
        [&delegate, &colorScheme] { delegate.setDesktopPrefersDark(colorScheme.prefersDark()); });
    QObject::connect(&instance, &SingleInstance::activated, &delegate,
                     [&delegate] { delegate.activate(); });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.shutDown(); });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.start(); });
    const int status = QApplication::exec();
    // Fetches still running on worker threads hold what this frame owns; the process ends
    // here, without unwinding under them. The history's writer completes its last write and
    // folds its journal into the file first; everything else was written when it happened.
    store.finishWriting();
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace kestrane::app
