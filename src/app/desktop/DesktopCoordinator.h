#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "app/board/BoardHistory.h"
#include "app/board/ProviderBoard.h"
#include "app/board/ProviderState.h"
#include "app/board/TimeZoneWatch.h"
#include "app/board/UsageNotifier.h"
#include "app/desktop/BackgroundRunner.h"
#include "app/desktop/BoardSignals.h"
#include "app/desktop/LocalServicesBackend.h"
#include "app/desktop/LocalServicesController.h"
#include "app/desktop/TrayIcons.h"
#include "app/desktop/TrayPresenter.h"
#include "app/settings/ProviderPreferences.h"
#include "app/settings/StartAtLogin.h"
#include "app/status/StatusPublisher.h"
#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/SettingsStore.h"
#include "providers/ConcurrentFetch.h"
#include "ui/PanelContent.h"
#include "ui/PanelWindow.h"

namespace kestrane::app {

class WakeObserver;

// The running application's coordinator: fetches the enabled providers on launch, on the
// timers and on wake and hands each refresh to the board in one step. The board announces
// every new snapshot to its readers — the tray icons, the notifier, the status file and the
// open panel — which draw it on their own. The coordinator owns the panel while it is open
// and the settings it changes. Everything here runs on the main thread; only the fetches and
// the services work run on worker threads, and what they hand back is merged here.
class DesktopCoordinator : public QObject {
    Q_OBJECT
  public:
    struct Dependencies {
        platform::SettingsStore& settingsStore;
        const platform::Clock& clock;
        BoardHistory& history;
        TrayIcons& trayIcons;
        // Blocking; runs on worker threads, one call per provider and refresh. A call still
        // running at its deadline is left to finish on its own (see fetchConcurrently).
        providers::Fetch fetch;
        BackgroundRunner runInBackground;
        LocalServicesBackend localServices;
        // The process arguments (for --preview).
        std::vector<std::string> arguments;
        // Refresh on wake from sleep through logind (the application; tests call the slot).
        bool observesWake = false;
        // How long a refresh waits for each provider (tests shorten it).
        providers::FetchDeadline fetchDeadline = providers::providerFetchDeadline;
        // Reads every snapshot for its notifications; none in most tests.
        UsageNotifier* notifier = nullptr;
        // Milliseconds between background refreshes.
        int refreshInterval = backgroundInterval;
        // Asked at every refresh, wake and opening of the panel whether the system's time zone
        // changed; its calendar is the board's, which every reader uses. None: the zone of the
        // start stays.
        TimeZoneWatch* timeZone = nullptr;
        // Starting at login, for the settings screen (no switch without it).
        const StartAtLogin* startAtLogin = nullptr;
        // Reads every snapshot for `kestrane --status`; unset in tests.
        std::shared_ptr<StatusPublisher> status;
        // Replays each window's past cycles for its forecast's track record, on a thread of
        // its own at the lowest priority (the application; off in tests).
        bool tracksForecasts = false;
    };

    static constexpr int backgroundInterval = 300'000;
    static constexpr int visibleInterval = 60'000;
    static constexpr int previewDelay = 350;

    explicit DesktopCoordinator(Dependencies dependencies);
    ~DesktopCoordinator() override;

    // After the event loop started: the first drawing, the timers and the first refresh.
    void start();
    // The application is about to end: timers and work stop, the status file goes.
    void shutDown();

    void refresh();
    void backgroundRefresh() { refresh(); }
    // The system woke from sleep.
    void systemResumed();
    // Makes a new snapshot at once when the system's time zone changed.
    void checkTimeZone();
    // Results that arrive outside a refresh (tests): handed to the board like a refresh's.
    void apply(const model::FetchResult& result);
    std::string remainingText(model::ProviderKind kind) const;
    // Draws the board on the tray icons again, unless they show it already.
    void renderTrayIcons() { tray_.redraw(); }
    void setProvider(model::ProviderKind kind, bool enabled);

    // Tray icons and panel.
    void togglePanel();
    void menuAboutToShow();
    // The panel open on this screen (the tray menu's items).
    void showScreen(TrayIcons::Screen screen);
    void quitApplication();
    // Whether the desktop asks for a dark scheme (nothing when it does not say); the open
    // panel follows it unless the user chose.
    void setDesktopPrefersDark(std::optional<bool> prefersDark);
    // Light or dark for the open panel, after the user's choice or the desktop's scheme
    // changed.
    void followAppearance();
    // Another start of the program asked for us: the panel opens (or comes to the front).
    void activate();

    // State, for tests.
    const ProviderBoard& board() const { return board_; }
    const std::map<model::ProviderKind, ProviderState>& states() const { return board_.states(); }
    const ProviderPreferences& preferences() const { return preferences_; }
    bool isRefreshing() const { return refreshRunning_; }
    std::optional<platform::Date> lastAttemptAt() const { return lastAttemptAt_; }
    const std::optional<ui::TrayIconRenderer::Content>& lastTrayContent() const {
        return tray_.lastContent();
    }
    const QTimer* refreshTimer() const { return refreshTimer_.get(); }
    const QTimer* visibleRefreshTimer() const { return visibleRefreshTimer_.get(); }
    ui::PanelWindow* panel() const { return panel_; }
    ui::PanelContent* panelContent() const { return panelContent_; }
    LocalServicesController& localServices() { return localServices_; }

  signals:
    // The application should end ("Выйти из Kestrane").
    void quitRequested();
    // The user chose another tint for the tray icons.
    void trayIconStyleChanged();
    // A refresh started or ended.
    void refreshingChanged(bool refreshing);

  private:
    void showTrackRecords();
    void applyResults(const std::vector<model::FetchResult>& results);
    void setRefreshing(bool refreshing);
    void panelClosed();
    void connectPanel(ui::PanelContent* content);
    void openPanel(bool asWindow);
    // The ordinary window's line: why it is a window and what closing it does.
    void updateWindowNotice();
    void closePanel();
    bool isPanelVisible() const;

    Dependencies dependencies_;
    ProviderPreferences preferences_;
    ProviderBoard board_;
    BoardSignals boardSignals_;
    TrayPresenter tray_;
    LocalServicesController localServices_;
    QPointer<ui::PanelWindow> panel_;
    QPointer<ui::PanelContent> panelContent_;
    std::optional<bool> desktopPrefersDark_;
    bool refreshRunning_ = false;
    std::unique_ptr<QTimer> refreshTimer_;
    std::unique_ptr<QTimer> visibleRefreshTimer_;
    std::optional<platform::Date> lastAttemptAt_;
    // Set at termination: work still running on worker threads is dropped when it returns.
    bool terminated_ = false;
    std::unique_ptr<WakeObserver> wakeObserver_;
};

}  // namespace kestrane::app
