#include "app/desktop/AppDelegate.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>

#include "app/desktop/TrayToolTip.h"
#include "app/desktop/WakeObserver.h"
#include "ui/QuotaPanel.h"
#include "ui/QuotaPopoverViewController.h"
#include "ui/QuotaTheme.h"

namespace kestrane::app {

namespace {

using model::FetchResult;
using model::ProviderKind;

constexpr double visibleRefreshAge = 60;
constexpr double wakeRefreshAge = 300;

}  // namespace

AppDelegate::AppDelegate(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      preferences_(dependencies_.defaults),
      board_(dependencies_.history,
             dependencies_.timeZone ? dependencies_.timeZone->calendar()
                                    : platform::Calendar::current(),
             preferences_.enabledProviders()),
      localServices_(dependencies_.localServices, dependencies_.runInBackground,
                     dependencies_.clock) {
    StatusItem& item = dependencies_.statusItem;
    connect(&item, &StatusItem::clicked, this, &AppDelegate::togglePopover);
    connect(&item, &StatusItem::menuWillShow, this, &AppDelegate::showContextMenu);
    connect(&item, &StatusItem::quitRequested, this, &AppDelegate::quitApplication);
    connect(&item, &StatusItem::screenRequested, this, &AppDelegate::showScreen);
    connect(&item, &StatusItem::becameAvailable, this, &AppDelegate::updateWindowNotice);
    connect(&item, &StatusItem::refreshRequested, this, &AppDelegate::refresh);
    connect(&localServices_, &LocalServicesController::changed, this, &AppDelegate::updatePopover);
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

AppDelegate::~AppDelegate() {
    if (popover_) {
        disconnect(popover_, nullptr, this, nullptr);
        delete popover_;
    }
}

void AppDelegate::applicationDidFinishLaunching() {
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    renderStatusItem();
    publishStatus();

    refreshTimer_ = std::make_unique<QTimer>();
    refreshTimer_->setInterval(dependencies_.refreshInterval);
    // Coarse timers may fire a few percent late, which lets the system batch wake-ups.
    refreshTimer_->setTimerType(Qt::CoarseTimer);
    connect(refreshTimer_.get(), &QTimer::timeout, this, &AppDelegate::backgroundRefresh);
    refreshTimer_->start();

    if (dependencies_.observesWake) {
        wakeObserver_ = std::make_unique<WakeObserver>();
        connect(wakeObserver_.get(), &WakeObserver::woke, this, &AppDelegate::workspaceDidWake);
    }

    refresh();

    if (!dependencies_.statusItem.isAvailable()) {
        // Without a tray nothing would show that the program runs: open the panel as an
        // ordinary window instead.
        openPopover(true);
    } else if (std::find(dependencies_.arguments.begin(), dependencies_.arguments.end(),
                         "--preview") != dependencies_.arguments.end()) {
        QTimer::singleShot(previewDelay, this, [this] {
            if (!isPopoverVisible()) togglePopover();
        });
    }
}

void AppDelegate::applicationWillTerminate() {
    refreshTimer_.reset();
    visibleRefreshTimer_.reset();
    // Work on worker threads cannot be interrupted; what it hands back is dropped.
    terminated_ = true;
    refreshRunning_ = false;
    localServices_.shutDown();
    closePopover();
    wakeObserver_.reset();
    if (dependencies_.status) dependencies_.status->withdraw();
}

void AppDelegate::refresh() {
    const platform::Date now = dependencies_.clock.now();
    followTimeZone(now);
    dependencies_.history.pruneExpired(now);
    if (refreshRunning_ || terminated_) return;
    board_.setEnabled(preferences_.enabledProviders(), now);
    const std::vector<ProviderKind> enabled = board_.enabled();
    if (enabled.empty()) {
        renderStatusItem();
        updatePopover();
        return;
    }
    lastAttemptAt_ = now;
    refreshRunning_ = true;
    updatePopover();

    auto results = std::make_shared<std::vector<FetchResult>>();
    QPointer<AppDelegate> self(this);
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
            self->renderStatusItem();
            self->publishStatus();
            self->updatePopover();
        });
}

void AppDelegate::showTrackRecords() {
    if (terminated_) return;
    board_.updateTrackRecords();
    publishStatus();
    updatePopover();
}

void AppDelegate::followTimeZone(platform::Date now) {
    const auto calendar = dependencies_.timeZone ? dependencies_.timeZone->check() : std::nullopt;
    if (!calendar) return;
    // Hours are learned, forecasts made and dates shown in the zone the user lives in now:
    // the board tells the history, and every reader takes the board's calendar.
    board_.setCalendar(*calendar, now);
    if (popoverController_) popoverController_->setCalendar(board_.calendar());
}

void AppDelegate::workspaceDidWake() {
    if (!lastAttemptAt_ || dependencies_.clock.now() - *lastAttemptAt_ >= wakeRefreshAge) {
        refresh();
    }
}

void AppDelegate::apply(const FetchResult& result) {
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    applyResults({result});
}

void AppDelegate::applyResults(const std::vector<FetchResult>& results) {
    const platform::Date now = dependencies_.clock.now();
    const std::vector<ProviderKind> fresh = board_.applyRefresh(results, now);
    if (!dependencies_.notifier) return;
    for (const ProviderKind kind : fresh) dependencies_.notifier->observe(board_, kind, now);
}

std::string AppDelegate::remainingText(ProviderKind kind) const {
    return app::remainingText(board_.state(kind));
}

bool AppDelegate::isPopoverVisible() const { return popover_ && popover_->isVisible(); }

void AppDelegate::renderStatusItem() {
    if (isPopoverVisible()) {
        // Never redrawn under the open panel; once when it closes.
        shouldRenderBadgeAfterPopoverCloses_ = true;
        return;
    }
    ui::MenuBarBadgeRenderer::Content content;
    for (const ProviderKind kind : board_.enabled()) {
        const ProviderState& state = board_.state(kind);
        std::string value = remainingText(kind);
        std::string toolTip = trayToolTip(kind, value, state.usage, state.error, board_.calendar());
        content.entries.push_back({kind, std::move(value), std::move(toolTip)});
    }
    if (lastBadgeContent_ && *lastBadgeContent_ == content) return;
    lastBadgeContent_ = content;
    dependencies_.statusItem.show(content);
}

void AppDelegate::publishStatus() {
    if (!dependencies_.status) return;
    dependencies_.status->publish(board_, dependencies_.clock.now());
}

void AppDelegate::setProvider(ProviderKind kind, bool enabled) {
    preferences_.setEnabled(enabled, kind);
    board_.setEnabled(preferences_.enabledProviders(), dependencies_.clock.now());
    renderStatusItem();
    publishStatus();
    QTimer::singleShot(0, this, [this, enabled] {
        updatePopover();
        if (enabled) refresh();
    });
}

void AppDelegate::panelDidClose() {
    visibleRefreshTimer_.reset();
    const bool wasWindow =
        popover_ && popover_->presentation() == ui::QuotaPanel::Presentation::window;
    if (popover_) {
        disconnect(popover_, nullptr, this, nullptr);
        // Closing runs inside the panel's own event handlers: it goes once they return.
        popover_->deleteLater();
    }
    popover_ = nullptr;
    popoverController_ = nullptr;
    if (shouldRenderBadgeAfterPopoverCloses_) {
        shouldRenderBadgeAfterPopoverCloses_ = false;
        renderStatusItem();
    }
    // With no tray the window was all there was of the program; once a tray turned up, the
    // program lives on there.
    if (wasWindow && !terminated_ && !dependencies_.statusItem.isAvailable()) quitApplication();
}

void AppDelegate::togglePopover() {
    if (isPopoverVisible()) {
        closePopover();
        return;
    }
    openPopover(false);
}

void AppDelegate::activate() {
    if (isPopoverVisible()) {
        popover_->raise();
        popover_->activateWindow();
        return;
    }
    openPopover(!dependencies_.statusItem.isAvailable());
}

void AppDelegate::openPopover(bool asWindow) {
    if (popover_) closePopover();
    auto* panel = new ui::QuotaPanel(asWindow ? ui::QuotaPanel::Presentation::window
                                              : ui::QuotaPanel::Presentation::floating);
    connect(panel, &ui::QuotaPanel::closed, this, &AppDelegate::panelDidClose);
    popover_ = panel;

    auto* controller = new ui::QuotaPopoverViewController(dependencies_.defaults);
    controller->setCalendar(board_.calendar());
    connectPanel(controller);
    controller->startsAtLogin = dependencies_.startsAtLogin;
    controller->setStartsAtLogin = dependencies_.setStartsAtLogin;
    popoverController_ = controller;
    panel->setContentView(controller);
    followAppearance();
    updateWindowNotice();
    updatePopover();

    // Under the tray icons while the tray tells where they are; otherwise under the mouse
    // where the click happened.
    const QRect pointer(QCursor::pos(), QSize(1, 1));
    QPointer<AppDelegate> self(this);
    panel->show([self, pointer]() -> std::optional<QRect> {
        if (!self) return std::nullopt;
        return self->dependencies_.statusItem.geometry().value_or(pointer);
    });

    const platform::Date now = dependencies_.clock.now();
    if (!lastAttemptAt_ || now - *lastAttemptAt_ >= visibleRefreshAge) refresh();

    visibleRefreshTimer_ = std::make_unique<QTimer>();
    visibleRefreshTimer_->setInterval(visibleInterval);
    visibleRefreshTimer_->setTimerType(Qt::CoarseTimer);
    connect(visibleRefreshTimer_.get(), &QTimer::timeout, this, &AppDelegate::backgroundRefresh);
    visibleRefreshTimer_->start();
}

void AppDelegate::updateWindowNotice() {
    if (!popover_) return;
    popover_->setNotice(
        dependencies_.statusItem.isAvailable()
            ? QStringLiteral("Трей появился: закрытое окно оставит Kestrane в трее.")
            : QStringLiteral("Трей не найден: закрытие окна завершит Kestrane."));
}

void AppDelegate::connectPanel(ui::QuotaPopoverViewController* controller) {
    using Controller = ui::QuotaPopoverViewController;
    connect(controller, &Controller::refreshRequested, this, &AppDelegate::refresh);
    connect(controller, &Controller::providerToggleRequested, this, &AppDelegate::setProvider);
    connect(controller, &Controller::servicesOpened, &localServices_,
            &LocalServicesController::load);
    connect(controller, &Controller::servicesRefreshRequested, &localServices_,
            &LocalServicesController::load);
    connect(controller, &Controller::serviceStopRequested, &localServices_,
            &LocalServicesController::stop);
    connect(controller, &Controller::contentSizeChanged, this, [this](QSize size) {
        if (popover_) popover_->setContentSize(size);
    });
    // The settings screen's choices are stored here, not by the panel.
    connect(controller, &Controller::notificationsEnabledChosen, this,
            [this](bool isOn) { preferences_.setNotificationsEnabled(isOn); });
    connect(controller, &Controller::notifyBelowPercentChosen, this,
            [this](int percent) { preferences_.setNotifyBelowPercent(percent); });
    connect(controller, &Controller::notifyCriticalPercentChosen, this,
            [this](int percent) { preferences_.setNotifyCriticalPercent(percent); });
    connect(controller, &Controller::trayIconStyleChosen, this, [this](TrayIconStyle style) {
        TrayIconPreference::write(dependencies_.defaults, style);
        if (dependencies_.trayIconStyleChanged) dependencies_.trayIconStyleChanged();
    });
    connect(controller, &Controller::panelAppearanceChosen, this,
            [this](PanelAppearance appearance) {
                PanelAppearancePreference::write(dependencies_.defaults, appearance);
                followAppearance();
            });
}

void AppDelegate::followAppearance() {
    if (!popover_) return;
    const std::optional<bool> desktop =
        dependencies_.desktopPrefersDark ? dependencies_.desktopPrefersDark() : std::nullopt;
    popover_->setDark(ui::QuotaTheme::isDark(
        PanelAppearancePreference::read(dependencies_.defaults), desktop, QApplication::palette()));
}

void AppDelegate::closePopover() {
    if (popover_) popover_->close();
}

void AppDelegate::showContextMenu() { closePopover(); }

void AppDelegate::showScreen(StatusItem::Screen screen) {
    if (!isPopoverVisible()) {
        openPopover(!dependencies_.statusItem.isAvailable());
    } else {
        popover_->raise();
        popover_->activateWindow();
    }
    if (!popoverController_) return;
    using Mode = ui::QuotaPopoverViewController::Mode;
    switch (screen) {
        case StatusItem::Screen::overview:
            popoverController_->showMode(Mode::overview);
            return;
        case StatusItem::Screen::services:
            popoverController_->showMode(Mode::services);
            return;
        case StatusItem::Screen::settings:
            popoverController_->showMode(Mode::settings);
            return;
    }
}

void AppDelegate::quitApplication() {
    if (dependencies_.quit) dependencies_.quit();
}

void AppDelegate::updatePopover() {
    if (!popoverController_) return;
    std::vector<ui::ProviderViewState> list;
    for (const ProviderKind kind : model::allProviderKinds) {
        const ProviderState& state = board_.state(kind);
        list.push_back({kind, board_.isEnabled(kind), state.usage, state.error});
    }
    popoverController_->setIsRefreshing(refreshRunning_);
    popoverController_->setHistoryError(dependencies_.history.persistenceError());
    popoverController_->setStates(std::move(list));
    popoverController_->setOutlooks(board_.sharedOutlooks());
    popoverController_->setLocalServices(localServices_.state());
    popoverController_->render();
}

}  // namespace kestrane::app
