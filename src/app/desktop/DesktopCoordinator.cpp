#include "app/desktop/DesktopCoordinator.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>

#include "app/desktop/PanelSettingsBinding.h"
#include "app/desktop/WakeObserver.h"
#include "ui/PanelTheme.h"

namespace kestrane::app {

namespace {

using model::FetchResult;
using model::ProviderKind;

constexpr double visibleRefreshAge = 60;
constexpr double wakeRefreshAge = 300;

}  // namespace

DesktopCoordinator::DesktopCoordinator(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      preferences_(dependencies_.settingsStore),
      board_(dependencies_.history,
             dependencies_.timeZone ? dependencies_.timeZone->calendar()
                                    : platform::Calendar::current(),
             preferences_.enabledProviders()),
      tray_(dependencies_.trayIcons),
      localServices_(dependencies_.localServices, dependencies_.runInBackground,
                     dependencies_.clock) {
    TrayIcons& icons = dependencies_.trayIcons;
    connect(&icons, &TrayIcons::clicked, this, &DesktopCoordinator::togglePanel);
    connect(&icons, &TrayIcons::menuWillShow, this, &DesktopCoordinator::menuAboutToShow);
    connect(&icons, &TrayIcons::quitRequested, this, &DesktopCoordinator::quitApplication);
    connect(&icons, &TrayIcons::screenRequested, this, &DesktopCoordinator::showScreen);
    connect(&icons, &TrayIcons::becameAvailable, this, &DesktopCoordinator::updateWindowNotice);
    connect(&icons, &TrayIcons::refreshRequested, this, &DesktopCoordinator::refresh);
    if (dependencies_.tracksForecasts) {
        // Track records are worked out after a refresh, on their own thread; once they are,
        // the board makes a new snapshot with them rather than waiting for the next refresh.
        // The cache is a member's member, so it is gone (its thread joined) before this
        // object, and Qt drops the queued call with the object.
        auto finished = [this] {
            QMetaObject::invokeMethod(
                this, [this] { showTrackRecords(); }, Qt::QueuedConnection);
        };
        board_.setTrackRecords(std::make_unique<TrackRecordCache>(true, std::move(finished)),
                               dependencies_.clock.now());
    }
    // Every reader follows the board from here on; the first drawing comes with start().
    board_.addObserver(boardSignals_);
    connect(&boardSignals_, &BoardSignals::changed, &tray_, &TrayPresenter::show);
    if (dependencies_.notifier) board_.addObserver(*dependencies_.notifier);
    if (dependencies_.status) board_.addObserver(*dependencies_.status);
}

DesktopCoordinator::~DesktopCoordinator() {
    if (panel_) {
        disconnect(panel_, nullptr, this, nullptr);
        delete panel_;
    }
}

void DesktopCoordinator::start() {
    const std::vector<ProviderKind> enabled = preferences_.enabledProviders();
    if (enabled == board_.enabled()) {
        board_.announce();
    } else {
        board_.setEnabled(enabled, dependencies_.clock.now());
    }

    refreshTimer_ = std::make_unique<QTimer>();
    refreshTimer_->setInterval(dependencies_.refreshInterval);
    // Coarse timers may fire a few percent late, which lets the system batch wake-ups.
    refreshTimer_->setTimerType(Qt::CoarseTimer);
    connect(refreshTimer_.get(), &QTimer::timeout, this, &DesktopCoordinator::backgroundRefresh);
    refreshTimer_->start();

    if (dependencies_.observesWake) {
        wakeObserver_ = std::make_unique<WakeObserver>();
        connect(wakeObserver_.get(), &WakeObserver::woke, this, &DesktopCoordinator::systemResumed);
    }

    refresh();

    if (!dependencies_.trayIcons.isAvailable()) {
        // Without a tray nothing would show that the program runs: open the panel as an
        // ordinary window instead.
        openPanel(true);
    } else if (std::find(dependencies_.arguments.begin(), dependencies_.arguments.end(),
                         "--preview") != dependencies_.arguments.end()) {
        QTimer::singleShot(previewDelay, this, [this] {
            if (!isPanelVisible()) togglePanel();
        });
    }
}

void DesktopCoordinator::shutDown() {
    refreshTimer_.reset();
    visibleRefreshTimer_.reset();
    // Work on worker threads cannot be interrupted; what it hands back is dropped.
    terminated_ = true;
    setRefreshing(false);
    localServices_.shutDown();
    closePanel();
    wakeObserver_.reset();
    if (dependencies_.status) {
        board_.removeObserver(*dependencies_.status);
        dependencies_.status->withdraw();
    }
}

void DesktopCoordinator::refresh() {
    const platform::Date now = dependencies_.clock.now();
    checkTimeZone();
    dependencies_.history.pruneExpired(now);
    if (refreshRunning_ || terminated_) return;
    board_.setEnabled(preferences_.enabledProviders(), now);
    const std::vector<ProviderKind> enabled = board_.enabled();
    if (enabled.empty()) return;
    lastAttemptAt_ = now;
    setRefreshing(true);

    auto results = std::make_shared<std::vector<FetchResult>>();
    QPointer<DesktopCoordinator> self(this);
    dependencies_.runInBackground(
        [fetch = dependencies_.fetch, deadline = dependencies_.fetchDeadline, enabled, results] {
            *results =
                providers::fetchConcurrently(fetch, providers::defaultAccounts(enabled), deadline);
        },
        [self, results] {
            if (!self || self->terminated_) return;
            // Everything of one refresh is merged together, once its slowest provider
            // answered or ran out of time.
            self->applyResults(*results);
            self->setRefreshing(false);
        });
}

void DesktopCoordinator::setRefreshing(bool refreshing) {
    if (refreshRunning_ == refreshing) return;
    refreshRunning_ = refreshing;
    emit refreshingChanged(refreshing);
}

void DesktopCoordinator::showTrackRecords() {
    if (terminated_) return;
    board_.updateTrackRecords(dependencies_.clock.now());
}

void DesktopCoordinator::checkTimeZone() {
    const auto calendar = dependencies_.timeZone ? dependencies_.timeZone->check() : std::nullopt;
    if (!calendar) return;
    // Hours are learned, forecasts made and dates shown in the zone the user lives in now:
    // the board tells the history and makes a snapshot in it, which every reader draws.
    board_.setCalendar(*calendar, dependencies_.clock.now());
}

void DesktopCoordinator::systemResumed() {
    checkTimeZone();
    if (!lastAttemptAt_ || dependencies_.clock.now() - *lastAttemptAt_ >= wakeRefreshAge) {
        refresh();
    }
}

void DesktopCoordinator::apply(const FetchResult& result) {
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    applyResults({result});
}

void DesktopCoordinator::applyResults(const std::vector<FetchResult>& results) {
    board_.applyRefresh(results, dependencies_.clock.now());
}

std::string DesktopCoordinator::remainingText(ProviderKind kind) const {
    return app::remainingText(board_.state(kind));
}

bool DesktopCoordinator::isPanelVisible() const { return panel_ && panel_->isVisible(); }

void DesktopCoordinator::setProvider(ProviderKind kind, bool enabled) {
    preferences_.setEnabled(enabled, kind);
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    if (enabled) QTimer::singleShot(0, this, [this] { refresh(); });
}

void DesktopCoordinator::panelClosed() {
    visibleRefreshTimer_.reset();
    const bool wasWindow =
        panel_ && panel_->presentation() == ui::PanelWindow::Presentation::window;
    if (panel_) {
        disconnect(panel_, nullptr, this, nullptr);
        // Closing runs inside the panel's own event handlers: it goes once they return.
        panel_->deleteLater();
    }
    panel_ = nullptr;
    panelContent_ = nullptr;
    tray_.setHeld(false);
    // With no tray the window was all there was of the program; once a tray turned up, the
    // program lives on there.
    if (wasWindow && !terminated_ && !dependencies_.trayIcons.isAvailable()) quitApplication();
}

void DesktopCoordinator::togglePanel() {
    if (isPanelVisible()) {
        closePanel();
        return;
    }
    openPanel(false);
}

void DesktopCoordinator::activate() {
    if (isPanelVisible()) {
        panel_->raise();
        panel_->activateWindow();
        return;
    }
    openPanel(!dependencies_.trayIcons.isAvailable());
}

void DesktopCoordinator::openPanel(bool asWindow) {
    if (panel_) closePanel();
    // The icons stay as they are beside the floating panel; an ordinary window is no reason
    // to hold them (a tray may turn up while it is open).
    tray_.setHeld(!asWindow);
    auto* panel = new ui::PanelWindow(asWindow ? ui::PanelWindow::Presentation::window
                                               : ui::PanelWindow::Presentation::floating);
    connect(panel, &ui::PanelWindow::closed, this, &DesktopCoordinator::panelClosed);
    panel_ = panel;

    auto* content = new ui::PanelContent;
    auto* settings =
        new PanelSettingsBinding(*content, dependencies_.settingsStore, dependencies_.startAtLogin);
    connect(settings, &PanelSettingsBinding::trayIconStyleChanged, this,
            &DesktopCoordinator::trayIconStyleChanged);
    connect(settings, &PanelSettingsBinding::panelAppearanceChanged, this,
            &DesktopCoordinator::followAppearance);
    connectPanel(content);
    panelContent_ = content;
    panel->setContentView(content);
    followAppearance();
    updateWindowNotice();
    content->showRefreshing(refreshRunning_);
    content->setLocalServices(localServices_.state());
    content->showBoard(board_.snapshot());

    // Under the tray icons while the tray tells where they are; otherwise under the mouse
    // where the click happened.
    const QRect pointer(QCursor::pos(), QSize(1, 1));
    QPointer<DesktopCoordinator> self(this);
    panel->show([self, pointer]() -> std::optional<QRect> {
        if (!self) return std::nullopt;
        return self->dependencies_.trayIcons.geometry().value_or(pointer);
    });

    checkTimeZone();
    const platform::Date now = dependencies_.clock.now();
    if (!lastAttemptAt_ || now - *lastAttemptAt_ >= visibleRefreshAge) refresh();

    visibleRefreshTimer_ = std::make_unique<QTimer>();
    visibleRefreshTimer_->setInterval(visibleInterval);
    visibleRefreshTimer_->setTimerType(Qt::CoarseTimer);
    connect(visibleRefreshTimer_.get(), &QTimer::timeout, this,
            &DesktopCoordinator::backgroundRefresh);
    visibleRefreshTimer_->start();
}

void DesktopCoordinator::updateWindowNotice() {
    if (!panel_) return;
    panel_->setNotice(dependencies_.trayIcons.isAvailable()
                          ? QStringLiteral("Трей появился: закрытое окно оставит Kestrane в трее.")
                          : QStringLiteral("Трей не найден: закрытие окна завершит Kestrane."));
}

void DesktopCoordinator::connectPanel(ui::PanelContent* content) {
    using ui::PanelContent;
    // The panel reads every new board, the refreshes and the services as they change.
    connect(&boardSignals_, &BoardSignals::changed, content, &PanelContent::showBoard);
    connect(this, &DesktopCoordinator::refreshingChanged, content, &PanelContent::showRefreshing);
    connect(&localServices_, &LocalServicesController::changed, content,
            [this, content] { content->showLocalServices(localServices_.state()); });
    // What the user asks for.
    connect(content, &PanelContent::refreshRequested, this, &DesktopCoordinator::refresh);
    connect(content, &PanelContent::providerToggleRequested, this,
            &DesktopCoordinator::setProvider);
    connect(content, &PanelContent::servicesOpened, &localServices_,
            &LocalServicesController::load);
    connect(content, &PanelContent::servicesRefreshRequested, &localServices_,
            &LocalServicesController::load);
    connect(content, &PanelContent::serviceStopRequested, &localServices_,
            &LocalServicesController::stop);
    connect(content, &PanelContent::contentSizeChanged, this, [this](QSize size) {
        if (panel_) panel_->setContentSize(size);
    });
}

void DesktopCoordinator::setDesktopPrefersDark(std::optional<bool> prefersDark) {
    desktopPrefersDark_ = prefersDark;
    followAppearance();
}

void DesktopCoordinator::followAppearance() {
    if (!panel_) return;
    panel_->setDark(ui::PanelTheme::isDark(preferences_.panelAppearance(), desktopPrefersDark_,
                                           QApplication::palette()));
}

void DesktopCoordinator::closePanel() {
    if (panel_) panel_->close();
}

void DesktopCoordinator::menuAboutToShow() { closePanel(); }

void DesktopCoordinator::showScreen(TrayIcons::Screen screen) {
    if (!isPanelVisible()) {
        openPanel(!dependencies_.trayIcons.isAvailable());
    } else {
        panel_->raise();
        panel_->activateWindow();
    }
    if (!panelContent_) return;
    using Mode = ui::PanelContent::Mode;
    switch (screen) {
        case TrayIcons::Screen::overview:
            panelContent_->showMode(Mode::overview);
            return;
        case TrayIcons::Screen::services:
            panelContent_->showMode(Mode::services);
            return;
        case TrayIcons::Screen::settings:
            panelContent_->showMode(Mode::settings);
            return;
    }
}

void DesktopCoordinator::quitApplication() { emit quitRequested(); }

}  // namespace kestrane::app
