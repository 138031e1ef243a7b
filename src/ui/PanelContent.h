#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "app/board/ProviderBoard.h"
#include "localservices/LocalService.h"
#include "localservices/LocalServicesViewState.h"
#include "model/ProviderKind.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "ui/PanelScreenContext.h"
#include "ui/PanelWidgetKit.h"
#include "ui/ProviderViewState.h"
#include "ui/SettingsScreen.h"
#include "ui/StopConfirmation.h"
#include "ui/UsageChartView.h"

class QLabel;
class QScrollArea;

namespace kestrane::ui {

class PanelButton;

// The stored settings the panel shows: the remembered provider and chart style, and what the
// settings screen offers. The panel's owner hands them in and stores what the user chooses.
struct PanelSettings {
    std::optional<model::ProviderKind> selectedProvider;
    bool chartShowsBurn = false;
    SettingsScreen::Notifications notifications;
    DesktopSettingsState desktop;

    bool operator==(const PanelSettings&) const = default;
};

// The panel's content: one header over a scrolling document that shows one of three screens
// (the quota overview, the local services, the settings). Every change of state builds the
// current screen again from the fields, so what it shows is a function of them. The screens
// themselves are built by OverviewScreen, LocalServicesScreen and SettingsScreen; this class
// keeps the header, the actions and the installing of a screen. The keyboard focus survives
// the rebuilding: it stays on the same control of the new document, and a change of screen
// moves it to the new screen's first control. It reads no stored setting and writes none:
// what the user does leaves it as signals.
class PanelContent : public QWidget {
    Q_OBJECT
  public:
    enum class Mode { overview, services, settings };
    using ChartStyle = UsageChartView::Style;

    static constexpr int panelWidth = 448;
    static constexpr int headerHeight = 44;
    static constexpr int documentWidth = PanelWidgetKit::documentWidth;

    // With the system clock and time zone.
    explicit PanelContent(QWidget* parent = nullptr);
    PanelContent(const platform::Clock& clock, platform::Calendar calendar,
                 QWidget* parent = nullptr);
    ~PanelContent() override;

    // Height of the visible area of the screen showing the panel. Unset: the screen of the
    // window (or the primary screen).
    void setVisibleFrameHeight(std::optional<int> height) { visibleFrameHeight_ = height; }
    // The settings as stored, from the next render on.
    void setSettings(PanelSettings settings) { settings_ = std::move(settings); }
    const PanelSettings& settings() const { return settings_; }

    void setIsRefreshing(bool refreshing) { isRefreshing_ = refreshing; }
    void setHistoryError(std::optional<std::string> error) { historyError_ = std::move(error); }
    // Dates, the chart and the forecast in this calendar's zone from the next render on.
    void setCalendar(platform::Calendar calendar) { calendar_ = std::move(calendar); }
    void setStates(std::vector<ProviderViewState> states) { states_ = std::move(states); }
    // The board's outlooks of the enabled providers' windows and the service to use now.
    void setOutlooks(std::shared_ptr<const app::BoardSnapshot> outlooks) {
        outlooks_ = std::move(outlooks);
    }
    void setLocalServices(localservices::LocalServicesViewState state) {
        localServices_ = std::move(state);
    }

    bool isRefreshing() const { return isRefreshing_; }
    const platform::Calendar& calendar() const { return calendar_; }
    const std::optional<std::string>& historyError() const { return historyError_; }
    const std::vector<ProviderViewState>& states() const { return states_; }
    const app::BoardSnapshot* outlooks() const { return outlooks_.get(); }
    const localservices::LocalServicesViewState& localServices() const { return localServices_; }
    std::optional<model::ProviderKind> selectedProvider() const {
        return settings_.selectedProvider;
    }
    const std::map<model::ProviderKind, std::string>& selectedWindowIDs() const {
        return selectedWindowIDs_;
    }
    ChartStyle chartStyle() const {
        return settings_.chartShowsBurn ? ChartStyle::burn : ChartStyle::remaining;
    }
    bool chartShowsBurn() const { return settings_.chartShowsBurn; }
    bool showsAccountDetails() const { return showsAccountDetails_; }
    Mode mode() const { return mode_; }
    // What the panel should be: 448 wide, the visible part of the document plus the header.
    QSize preferredContentSize() const { return preferredContentSize_; }
    QScrollArea* scrollView() const { return scrollView_; }
    // The open stop question, if any.
    StopConfirmation* stopConfirmation() const { return stopConfirmation_; }

    // Actions of the controls; each renders afterwards.
    void refreshUsage();
    void toggleMode();
    void showServices();
    // Shows that screen (the services screen tells servicesOpened, as its button does).
    void showMode(Mode mode);
    void providerSelected(int segment);
    void windowSelected(int index);
    void otherWindowSelected(int index);
    void chartStyleSelected(int segment);
    void toggleAccountDetails();
    void refreshServices();
    void stopService(const QString& serviceID);
    void providerToggled(model::ProviderKind provider, bool isOn);
    void notificationsToggled(bool isOn);
    void notifyBelowSelected(int percent);
    void notifyCriticalSelected(int percent);
    void trayIconStyleSelected(int segment);
    void panelAppearanceSelected(int segment);
    void startAtLoginToggled(bool isOn);
    app::TrayIconStyle trayIconStyle() const { return settings_.desktop.trayIconStyle; }
    app::PanelAppearance panelAppearance() const { return settings_.desktop.panelAppearance; }
    const std::optional<std::string>& startAtLoginError() const {
        return settings_.desktop.startAtLoginError;
    }

    // The board's new state: its calendar, every provider's state and outlooks, then a render.
    void showBoard(const std::shared_ptr<const app::BoardSnapshot>& snapshot);
    // A refresh started or ended: the header says so.
    void showRefreshing(bool refreshing);
    // The services screen's new state, then a render.
    void showLocalServices(localservices::LocalServicesViewState state);

    // Builds the current screen and installs it.
    void render();
    // The controls Tab reaches in the header and the current document, in Tab order.
    QList<QWidget*> focusableControls() const;
    // QWidget's painting into a device stays available next to it.
    using QWidget::render;
    // Puts `document` (408 wide) into the scrolling area and sizes the panel for it.
    void installDocument(QWidget* document);
    // The tallest the document area may be on a screen whose visible frame is that high.
    static int maximumVisibleHeight(std::optional<int> visibleFrameHeight);

  signals:
    // "Обновить лимиты" was pressed.
    void refreshRequested();
    // A provider's switch on the settings screen.
    void providerToggleRequested(model::ProviderKind provider, bool isOn);
    // The services screen was opened, or its list asked to be scanned again.
    void servicesOpened();
    void servicesRefreshRequested();
    // The user confirmed stopping this service.
    void serviceStopRequested(const localservices::LocalService& service);
    // The panel's preferred size changed.
    void contentSizeChanged(QSize size);
    // Settings chosen on the panel; the owner stores them and hands them back (setSettings).
    void providerChosen(kestrane::model::ProviderKind provider);
    void chartStyleChosen(bool showsBurn);
    void startAtLoginChosen(bool isOn);
    void notificationsEnabledChosen(bool isOn);
    void notifyBelowPercentChosen(int percent);
    void notifyCriticalPercentChosen(int percent);
    void trayIconStyleChosen(app::TrayIconStyle style);
    void panelAppearanceChosen(app::PanelAppearance appearance);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    QWidget* makeScreen();
    // The provider the overview shows: the remembered one if enabled, else the first enabled.
    const ProviderViewState* selectedState() const;
    // The index of the window the overview shows for `state`, remembered for next time; a
    // remembered window that no longer exists falls back to the first one.
    std::size_t pickSelectedWindow(const ProviderViewState& state);
    void selectWindow(int index);
    void renderHeader();

    const platform::Clock& clock_;
    platform::Calendar calendar_;
    bool rendering_ = false;
    QLabel* titleLabel_ = nullptr;
    QLabel* subtitleLabel_ = nullptr;
    PanelButton* refreshButton_ = nullptr;
    PanelButton* modeButton_ = nullptr;
    PanelButton* servicesButton_ = nullptr;
    QPointer<StopConfirmation> stopConfirmation_;
    QScrollArea* scrollView_ = nullptr;
    PanelSettings settings_;
    std::map<model::ProviderKind, std::string> selectedWindowIDs_;
    std::optional<int> visibleFrameHeight_;

    bool showsAccountDetails_ = false;
    bool isRefreshing_ = false;
    std::optional<std::string> historyError_;
    Mode mode_ = Mode::overview;
    // The screen the installed document shows.
    std::optional<Mode> renderedMode_;
    std::vector<ProviderViewState> states_;
    std::shared_ptr<const app::BoardSnapshot> outlooks_;
    localservices::LocalServicesViewState localServices_;
    QSize preferredContentSize_{panelWidth, 600};
    // What the screens' controls ask for; a child of the panel.
    PanelActions* actions_ = nullptr;
};

}  // namespace kestrane::ui
