#include "app/desktop/DesktopCoordinator.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>

#include "app/desktop/TrayToolTip.h"
#include "app/desktop/WakeObserver.h"
#include "ui/PanelContent.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWindow.h"

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
      localServices_(dependencies_.localServices, dependencies_.runInBackground,
                     dependencies_.clock) {
    TrayIcons& item = dependencies_.trayIcons;
    connect(&item, &TrayIcons::clicked, this, &DesktopCoordinator::togglePanel);
    connect(&item, &TrayIcons::menuWillShow, this, &DesktopCoordinator::menuAboutToShow);
    connect(&item, &TrayIcons::quitRequested, this, &DesktopCoordinator::quitApplication);
    connect(&item, &TrayIcons::screenRequested, this, &DesktopCoordinator::showScreen);
    connect(&item, &TrayIcons::becameAvailable, this, &DesktopCoordinator::updateWindowNotice);
    connect(&item, &TrayIcons::refreshRequested, this, &DesktopCoordinator::refresh);
    connect(&localServices_, &LocalServicesController::changed, this,
            &DesktopCoordinator::updatePanel);
    if (dependencies_.tracksForecasts) {
        // Track records are worked out after a refresh, on their own thread; once they are,
        // the panel and the status file show them rather than waiting for the next refresh.
        // The cache is a member's member, so it is gone (its thread joined) before this
        // object, and Qt drops the queued call with the object.
        auto finished = [this] {
            QMetaObject::invokeMethod(
                this, [this] { showTrackRecords(); }, Qt::QueuedConnection);
        };
        board_.setTrackRecords(std::make_unique<TrackRecordCache>(true, std::move(finished)),
                               dependencies_.clock.now());
    }
}

DesktopCoordinator::~DesktopCoordinator() {
    if (panel_) {
        disconnect(panel_, nullptr, this, nullptr);
        delete panel_;
    }
}

void DesktopCoordinator::start() {
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    renderTrayIcons();
    publishStatus();

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
    refreshRunning_ = false;
    localServices_.shutDown();
    closePanel();
    wakeObserver_.reset();
    if (dependencies_.status) dependencies_.status->withdraw();
}

void DesktopCoordinator::refresh() {
    const platform::Date now = dependencies_.clock.now();
    followTimeZone(now);
    dependencies_.history.pruneExpired(now);
    if (refreshRunning_ || terminated_) return;
    board_.setEnabled(preferences_.enabledProviders(), now);
    const std::vector<ProviderKind> enabled = board_.enabled();
    if (enabled.empty()) {
        renderTrayIcons();
        updatePanel();
        return;
    }
    lastAttemptAt_ = now;
    refreshRunning_ = true;
    updatePanel();

    auto results = std::make_shared<std::vector<FetchResult>>();
    QPointer<DesktopCoordinator> self(this);
    dependencies_.runInBackground(
        [fetch = dependencies_.fetch, deadline = dependencies_.fetchDeadline, enabled, results] {
            *results = providers::fetchConcurrently(fetch, enabled, deadline);
        },
        [self, results] {
            if (!self || self->terminated_) return;
            // Everything of one refresh is merged together, once its slowest provider
            // answered or ran out of time.
            self->applyResults(*results);
            self->refreshRunning_ = false;
            self->renderTrayIcons();
            self->publishStatus();
            self->updatePanel();
        });
}

void DesktopCoordinator::showTrackRecords() {
    if (terminated_) return;
    board_.updateTrackRecords();
    publishStatus();
    updatePanel();
}

void DesktopCoordinator::followTimeZone(platform::Date now) {
    const auto calendar = dependencies_.timeZone ? dependencies_.timeZone->check() : std::nullopt;
    if (!calendar) return;
    // Hours are learned, forecasts made and dates shown in the zone the user lives in now:
    // the board tells the history, and every reader takes the board's calendar.
    board_.setCalendar(*calendar, now);
    if (panelContent_) panelContent_->setCalendar(board_.calendar());
}

void DesktopCoordinator::systemResumed() {
    if (!lastAttemptAt_ || dependencies_.clock.now() - *lastAttemptAt_ >= wakeRefreshAge) {
        refresh();
    }
}

void DesktopCoordinator::apply(const FetchResult& result) {
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    applyResults({result});
}

void DesktopCoordinator::applyResults(const std::vector<FetchResult>& results) {
    const platform::Date now = dependencies_.clock.now();
    const std::vector<ProviderKind> fresh = board_.applyRefresh(results, now);
    if (!dependencies_.notifier) return;
    for (const ProviderKind kind : fresh) dependencies_.notifier->observe(board_, kind, now);
}

std::string DesktopCoordinator::remainingText(ProviderKind kind) const {
    return app::remainingText(board_.state(kind));
}

bool DesktopCoordinator::isPanelVisible() const { return panel_ && panel_->isVisible(); }

void DesktopCoordinator::renderTrayIcons() {
    if (isPanelVisible()) {
        // Never redrawn under the open panel; once when it closes.
        redrawTrayWhenPanelCloses_ = true;
        return;
    }
    ui::TrayIconRenderer::Content content;
    for (const ProviderKind kind : board_.enabled()) {
        const ProviderState& state = board_.state(kind);
        std::string value = remainingText(kind);
        std::string toolTip = trayToolTip(kind, value, state.usage, state.error, board_.calendar());
        content.entries.push_back({kind, std::move(value), std::move(toolTip)});
    }
    if (lastTrayContent_ && *lastTrayContent_ == content) return;
    lastTrayContent_ = content;
    dependencies_.trayIcons.show(content);
}

void DesktopCoordinator::publishStatus() {
    if (!dependencies_.status) return;
    dependencies_.status->publish(board_, dependencies_.clock.now());
}

void DesktopCoordinator::setProvider(ProviderKind kind, bool enabled) {
    preferences_.setEnabled(enabled, kind);
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    renderTrayIcons();
    publishStatus();
    QTimer::singleShot(0, this, [this, enabled] {
        updatePanel();
        if (enabled) refresh();
    });
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
    if (redrawTrayWhenPanelCloses_) {
        redrawTrayWhenPanelCloses_ = false;
        renderTrayIcons();
    }
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
    auto* panel = new ui::PanelWindow(asWindow ? ui::PanelWindow::Presentation::window
                                               : ui::PanelWindow::Presentation::floating);
    connect(panel, &ui::PanelWindow::closed, this, &DesktopCoordinator::panelClosed);
    panel_ = panel;

    auto* controller = new ui::PanelContent(dependencies_.settingsStore);
    controller->setCalendar(board_.calendar());
    connectPanel(controller);
    controller->startsAtLogin = dependencies_.startsAtLogin;
    controller->setStartsAtLogin = dependencies_.setStartsAtLogin;
    panelContent_ = controller;
    panel->setContentView(controller);
    followAppearance();
    updateWindowNotice();
    updatePanel();

    // Under the tray icons while the tray tells where they are; otherwise under the mouse
    // where the click happened.
    const QRect pointer(QCursor::pos(), QSize(1, 1));
    QPointer<DesktopCoordinator> self(this);
    panel->show([self, pointer]() -> std::optional<QRect> {
        if (!self) return std::nullopt;
        return self->dependencies_.trayIcons.geometry().value_or(pointer);
    });

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

void DesktopCoordinator::connectPanel(ui::PanelContent* controller) {
    using Controller = ui::PanelContent;
    connect(controller, &Controller::refreshRequested, this, &DesktopCoordinator::refresh);
    connect(controller, &Controller::providerToggleRequested, this,
            &DesktopCoordinator::setProvider);
    connect(controller, &Controller::servicesOpened, &localServices_,
            &LocalServicesController::load);
    connect(controller, &Controller::servicesRefreshRequested, &localServices_,
            &LocalServicesController::load);
    connect(controller, &Controller::serviceStopRequested, &localServices_,
            &LocalServicesController::stop);
    connect(controller, &Controller::contentSizeChanged, this, [this](QSize size) {
        if (panel_) panel_->setContentSize(size);
    });
    // The settings screen's choices are stored here, not by the panel.
    connect(controller, &Controller::notificationsEnabledChosen, this,
            [this](bool isOn) { preferences_.setNotificationsEnabled(isOn); });
    connect(controller, &Controller::notifyBelowPercentChosen, this,
            [this](int percent) { preferences_.setNotifyBelowPercent(percent); });
    connect(controller, &Controller::notifyCriticalPercentChosen, this,
            [this](int percent) { preferences_.setNotifyCriticalPercent(percent); });
    connect(controller, &Controller::trayIconStyleChosen, this, [this](TrayIconStyle style) {
        TrayIconPreference::write(dependencies_.settingsStore, style);
        if (dependencies_.trayIconStyleChanged) dependencies_.trayIconStyleChanged();
    });
    connect(controller, &Controller::panelAppearanceChosen, this,
            [this](PanelAppearance appearance) {
                PanelAppearancePreference::write(dependencies_.settingsStore, appearance);
                followAppearance();
            });
}

void DesktopCoordinator::followAppearance() {
    if (!panel_) return;
    const std::optional<bool> desktop =
        dependencies_.desktopPrefersDark ? dependencies_.desktopPrefersDark() : std::nullopt;
    panel_->setDark(
        ui::PanelTheme::isDark(PanelAppearancePreference::read(dependencies_.settingsStore),
                               desktop, QApplication::palette()));
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

void DesktopCoordinator::quitApplication() {
    if (dependencies_.quit) dependencies_.quit();
}

void DesktopCoordinator::updatePanel() {
    if (!panelContent_) return;
    std::vector<ui::ProviderViewState> list;
    for (const ProviderKind kind : model::allProviderKinds) {
        const ProviderState& state = board_.state(kind);
        list.push_back({kind, board_.isEnabled(kind), state.usage, state.error});
    }
    panelContent_->setIsRefreshing(refreshRunning_);
    panelContent_->setHistoryError(dependencies_.history.persistenceError());
    panelContent_->setStates(std::move(list));
    panelContent_->setOutlooks(board_.sharedOutlooks());
    panelContent_->setLocalServices(localServices_.state());
    panelContent_->render();
}

}  // namespace kestrane::app
