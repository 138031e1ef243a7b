#pragma once

#include <functional>
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
#include "app/desktop/LocalServicesBackend.h"
#include "app/desktop/LocalServicesController.h"
#include "app/desktop/TrayIcons.h"
#include "app/settings/PanelAppearancePreference.h"
#include "app/settings/ProviderPreferences.h"
#include "app/settings/TrayIconPreference.h"
#include "app/status/StatusPublisher.h"
#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "platform/Date.h"
#include "platform/SettingsStore.h"
#include "providers/ConcurrentFetch.h"
#include "ui/PanelContent.h"
#include "ui/PanelWindow.h"
#include "ui/TrayIconRenderer.h"

namespace kestrane::app {

class WakeObserver;

// The running application's coordinator: fetches the enabled providers on launch, on the
// timers and on wake, hands each refresh to the board in one step, then lets every reader
// (badge, notifications, status file, panel) read the board. It owns the panel while it is
// open and stores what the panel's settings screen chooses. Everything here runs on the main
// thread; only the fetches and the services work run on worker threads, and what they hand
// back is merged here.
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
        // Asks the application to end (the event loop then runs shutDown).
        std::function<void()> quit;
        // Refresh on wake from sleep through logind (the application; tests call the slot).
        bool observesWake = false;
        // How long a refresh waits for each provider (tests shorten it).
        providers::FetchDeadline fetchDeadline = providers::providerFetchDeadline;
        // Told about every fresh usage (desktop notifications); none in most tests.
        UsageNotifier* notifier = nullptr;
        // Milliseconds between background refreshes.
        int refreshInterval = backgroundInterval;
        // Asked at every refresh whether the system's time zone changed; its calendar is the
        // board's, which every reader uses. None: the zone of the start stays.
        TimeZoneWatch* timeZone = nullptr;
        // The settings screen's desktop rows: the tray icons' tint was changed; starting at
        // login (no switch without them).
        std::function<void()> trayIconStyleChanged;
        // Whether the desktop asks for a dark scheme (the portal); nothing when it does not
        // say. Unset: the palette decides unless the user chose.
        std::function<std::optional<bool>()> desktopPrefersDark;
        std::function<bool()> startsAtLogin;
        std::function<void(bool)> setStartsAtLogin;
        // Told the state after each refresh and switch, for `kestrane --status`; unset in tests.
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

    void start();
    void shutDown();

    void refresh();
    void backgroundRefresh() { refresh(); }
    void systemResumed();
    // Results that arrive outside a refresh (tests): handed to the board like a refresh's.
    void apply(const model::FetchResult& result);
    std::string remainingText(model::ProviderKind kind) const;
    void renderTrayIcons();
    void setProvider(model::ProviderKind kind, bool enabled);
    void panelClosed();

    // Status item and panel.
    void togglePanel();
    void menuAboutToShow();
    // The panel open on this screen (the tray menu's items).
    void showScreen(TrayIcons::Screen screen);
    void quitApplication();
    void updatePanel();
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
        return lastTrayContent_;
    }
    const QTimer* refreshTimer() const { return refreshTimer_.get(); }
    const QTimer* visibleRefreshTimer() const { return visibleRefreshTimer_.get(); }
    ui::PanelWindow* panel() const { return panel_; }
    ui::PanelContent* panelContent() const { return panelContent_; }
    LocalServicesController& localServices() { return localServices_; }

  private:
    void showTrackRecords();
    void applyResults(const std::vector<model::FetchResult>& results);
    void followTimeZone(platform::Date now);
    void connectPanel(ui::PanelContent* controller);
    void openPanel(bool asWindow);
    // The ordinary window's line: why it is a window and what closing it does.
    void updateWindowNotice();
    void publishStatus();
    void closePanel();
    bool isPanelVisible() const;

    Dependencies dependencies_;
    ProviderPreferences preferences_;
    ProviderBoard board_;
    LocalServicesController localServices_;
    QPointer<ui::PanelWindow> panel_;
    QPointer<ui::PanelContent> panelContent_;
    bool refreshRunning_ = false;
    std::unique_ptr<QTimer> refreshTimer_;
    std::unique_ptr<QTimer> visibleRefreshTimer_;
    std::optional<platform::Date> lastAttemptAt_;
    std::optional<ui::TrayIconRenderer::Content> lastTrayContent_;
    bool redrawTrayWhenPanelCloses_ = false;
    // Set at termination: work still running on worker threads is dropped when it returns.
    bool terminated_ = false;
    std::unique_ptr<WakeObserver> wakeObserver_;
};

}  // namespace kestrane::app
