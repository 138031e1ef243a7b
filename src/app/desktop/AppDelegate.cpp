#include "app/desktop/AppDelegate.h"

#include <algorithm>
#include <exception>

#include <QCursor>

#include "app/desktop/TrayToolTip.h"
#include "app/desktop/WakeObserver.h"
#include "localservices/LocalServiceMonitorError.h"
#include "ui/QuotaPanel.h"
#include "ui/QuotaPopoverViewController.h"

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
      calendar_(platform::Calendar::current()) {
    for (const ProviderKind kind : model::allProviderKinds) states_[kind] = ProviderState{};
    QPointer<AppDelegate> self(this);
    dependencies_.statusItem.onClick = [self] {
        if (self) self->togglePopover();
    };
    dependencies_.statusItem.onMenuWillShow = [self] {
        if (self) self->showContextMenu();
    };
    dependencies_.statusItem.onQuit = [self] {
        if (self) self->quitApplication();
    };
}

AppDelegate::~AppDelegate() {
    dependencies_.statusItem.onClick = nullptr;
    dependencies_.statusItem.onMenuWillShow = nullptr;
    dependencies_.statusItem.onQuit = nullptr;
    if (popover_) {
        popover_->onClose = nullptr;
        delete popover_;
    }
}

void AppDelegate::applicationDidFinishLaunching() {
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
    localServicesTaskRunning_ = false;
    localServiceActionRunning_ = false;
    closePopover();
    wakeObserver_.reset();
    if (dependencies_.status) dependencies_.status->withdraw();
}

void AppDelegate::refresh() {
    const platform::Date now = dependencies_.clock.now();
    followTimeZone();
    dependencies_.history.pruneExpired(now);
    if (refreshRunning_ || terminated_) return;
    const std::vector<ProviderKind> enabled = preferences_.enabledProviders();
    if (enabled.empty()) {
        renderStatusItem();
        updatePopover();
        return;
    }
    lastAttemptAt_ = now;
    updatePopover();
    refreshRunning_ = true;

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
            for (const FetchResult& result : *results) self->apply(result);
            self->refreshRunning_ = false;
            self->renderStatusItem();
            self->publishStatus();
            self->updatePopover();
        });
    updatePopover();
}

void AppDelegate::followTimeZone() {
    const auto calendar = dependencies_.timeZone ? dependencies_.timeZone->check() : std::nullopt;
    if (!calendar) return;
    // Hours are learned, and the forecast reads them, in the zone the user lives in now.
    dependencies_.history.setCalendar(*calendar);
    if (popoverController_) popoverController_->setCalendar(*calendar);
}

void AppDelegate::workspaceDidWake() {
    if (!lastAttemptAt_ || dependencies_.clock.now() - *lastAttemptAt_ >= wakeRefreshAge) {
        refresh();
    }
}

void AppDelegate::apply(const FetchResult& result) {
    if (result.isSuccess()) {
        const model::ProviderUsage& usage = result.usage();
        // Switched off while the fetch ran: neither recorded nor shown.
        if (!preferences_.isEnabled(usage.provider)) return;
        dependencies_.history.record(usage);
        if (dependencies_.notifier)
            dependencies_.notifier->observe(usage, dependencies_.clock.now());
        states_[usage.provider] = ProviderState{usage, std::nullopt};
        return;
    }
    // The last good numbers survive a failed fetch.
    states_[result.failureValue().provider].error = result.failureValue().message;
}

std::string AppDelegate::remainingText(ProviderKind kind) const {
    const auto found = states_.find(kind);
    if (found == states_.end()) return "--";
    return app::remainingText(found->second);
}

bool AppDelegate::isPopoverVisible() const { return popover_ && popover_->isVisible(); }

void AppDelegate::renderStatusItem() {
    if (isPopoverVisible()) {
        // Never redrawn under the open panel; once when it closes.
        shouldRenderBadgeAfterPopoverCloses_ = true;
        return;
    }
    ui::MenuBarBadgeRenderer::Content content;
    for (const ProviderKind kind : preferences_.enabledProviders()) {
        const ProviderState& state = states_.at(kind);
        std::string value = remainingText(kind);
        std::string toolTip = trayToolTip(kind, value, state.usage, state.error, calendar_);
        content.entries.push_back({kind, std::move(value), std::move(toolTip)});
    }
    if (lastBadgeContent_ && *lastBadgeContent_ == content) return;
    lastBadgeContent_ = content;
    dependencies_.statusItem.show(content);
}

void AppDelegate::publishStatus() {
    if (!dependencies_.status) return;
    dependencies_.status->publish(preferences_.enabledProviders(), states_, dependencies_.history,
                                  dependencies_.clock.now());
}

void AppDelegate::setProvider(ProviderKind kind, bool enabled) {
    preferences_.setEnabled(enabled, kind);
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
        popover_->onClose = nullptr;
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
    QPointer<AppDelegate> self(this);
    panel->onClose = [self] {
        if (self) self->panelDidClose();
    };
    popover_ = panel;

    auto* controller = new ui::QuotaPopoverViewController(dependencies_.defaults);
    if (dependencies_.timeZone) controller->setCalendar(dependencies_.timeZone->calendar());
    controller->onRefresh = [self] {
        if (self) self->refresh();
    };
    controller->onToggle = [self](ProviderKind kind, bool enabled) {
        if (self) self->setProvider(kind, enabled);
    };
    controller->onOpenServices = [self] {
        if (self) self->loadLocalServices();
    };
    controller->onRefreshServices = [self] {
        if (self) self->loadLocalServices();
    };
    controller->onStopService = [self](const LocalService& service) {
        if (self) self->stopLocalService(service);
    };
    controller->onTrayIconStyleChange = dependencies_.trayIconStyleChanged;
    controller->startsAtLogin = dependencies_.startsAtLogin;
    controller->setStartsAtLogin = dependencies_.setStartsAtLogin;
    controller->onSizeChange = [self](QSize size) {
        if (self && self->popover_) self->popover_->setContentSize(size);
    };
    popoverController_ = controller;
    panel->setContentView(controller);
    updatePopover();

    // Under the tray icons while the tray tells where they are; otherwise under the mouse
    // where the click happened.
    const QRect pointer(QCursor::pos(), QSize(1, 1));
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

void AppDelegate::closePopover() {
    if (popover_) popover_->close();
}

void AppDelegate::showContextMenu() { closePopover(); }

void AppDelegate::quitApplication() {
    if (dependencies_.quit) dependencies_.quit();
}

void AppDelegate::updatePopover() {
    if (!popoverController_) return;
    const platform::Date now = dependencies_.clock.now();
    std::vector<ui::ProviderViewState> list;
    for (const ProviderKind kind : model::allProviderKinds) {
        const ProviderState& state = states_.at(kind);
        ui::ProviderViewState view{kind, preferences_.isEnabled(kind), state.usage, state.error};
        if (state.usage) {
            for (const model::LimitWindow& window : state.usage->windows) {
                if (auto rhythm = dependencies_.history.rhythm(kind, window)) {
                    view.rhythms.emplace(window.id, std::move(*rhythm));
                }
                if (auto series = dependencies_.history.series(kind, window, now)) {
                    view.history.emplace(window.id, std::move(*series));
                }
            }
        }
        list.push_back(std::move(view));
    }
    popoverController_->setIsRefreshing(refreshRunning_);
    popoverController_->setHistoryError(dependencies_.history.persistenceError());
    popoverController_->setStates(std::move(list));
    popoverController_->setLocalServices(localServicesState_);
    popoverController_->render();
}

void AppDelegate::loadLocalServices() {
    if (localServicesTaskRunning_ || localServiceActionRunning_ || terminated_) return;
    localServicesState_.isLoading = true;
    localServicesState_.error.reset();
    updatePopover();
    localServicesTaskRunning_ = true;

    struct Outcome {
        LocalServiceScan scan;
        std::exception_ptr failure;
    };
    auto outcome = std::make_shared<Outcome>();
    QPointer<AppDelegate> self(this);
    dependencies_.runInBackground(
        [scan = dependencies_.localServices.scan, outcome] {
            try {
                outcome->scan = scan();
            } catch (...) {
                outcome->failure = std::current_exception();
            }
        },
        [self, outcome] {
            if (!self || self->terminated_) return;
            LocalServicesViewState& state = self->localServicesState_;
            if (outcome->failure) {
                state.error = localservices::describeServicesFailure(outcome->failure);
            } else {
                state.apply(std::move(outcome->scan), self->dependencies_.clock.now());
            }
            state.isLoading = false;
            self->localServicesTaskRunning_ = false;
            self->updatePopover();
        });
}

void AppDelegate::stopLocalService(const LocalService& service) {
    if (localServiceActionRunning_ || localServicesTaskRunning_ || terminated_) return;
    localServicesState_.stoppingServiceIDs.insert(service.id());
    localServicesState_.error.reset();
    updatePopover();
    localServiceActionRunning_ = true;

    auto outcome = std::make_shared<localservices::LocalServiceStopOutcome>();
    QPointer<AppDelegate> self(this);
    dependencies_.runInBackground(
        [backend = dependencies_.localServices, service, outcome] {
            *outcome = localservices::stopAndRescan(backend, service);
        },
        [self, outcome, id = service.id()] {
            if (!self || self->terminated_) return;
            LocalServicesViewState& state = self->localServicesState_;
            if (outcome->scan)
                state.apply(std::move(*outcome->scan), self->dependencies_.clock.now());
            if (outcome->error) state.error = outcome->error;
            state.stoppingServiceIDs.erase(id);
            self->localServiceActionRunning_ = false;
            self->updatePopover();
        });
}

}  // namespace kestrane::app
