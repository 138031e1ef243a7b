#include "ui/PanelContent.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "model/DateFormatting.h"
#include "platform/PlatformWords.h"
#include "ui/LocalServicesScreen.h"
#include "ui/OverviewScreen.h"
#include "ui/PanelButton.h"
#include "ui/PanelTheme.h"
#include "ui/SettingsScreen.h"
#include "ui/StopConfirmation.h"

namespace kestrane::ui {

namespace {

using Kit = PanelWidgetKit;
using model::ProviderKind;

// The controls of `root` that Tab reaches, in the order they were made (which is Tab order:
// every screen is built from top to bottom, left to right).
QList<QWidget*> tabStops(const QWidget* root) {
    QList<QWidget*> result;
    if (!root) return result;
    for (QWidget* child : root->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && child->isEnabled() &&
            child->isVisibleTo(root)) {
            result.push_back(child);
        }
    }
    return result;
}

// Where the focus is in a document, as what a rebuilt document has again: the control's name
// and how many controls of that name come before it.
struct FocusPlace {
    QString name;
    int index = 0;
};

std::optional<FocusPlace> focusPlace(const QWidget* root, const QWidget* focused) {
    int index = 0;
    for (const QWidget* control : tabStops(root)) {
        if (control == focused) return FocusPlace{focused->objectName(), index};
        if (control->objectName() == focused->objectName()) ++index;
    }
    return std::nullopt;
}

QWidget* controlAt(const QWidget* root, const FocusPlace& place) {
    int index = 0;
    for (QWidget* control : tabStops(root)) {
        if (control->objectName() != place.name) continue;
        if (index++ == place.index) return control;
    }
    return nullptr;
}

// The height the document needs at its fixed width.
int fittingHeight(QWidget* document) {
    if (QLayout* layout = document->layout()) {
        layout->activate();
        if (layout->hasHeightForWidth()) {
            return layout->totalHeightForWidth(PanelContent::documentWidth);
        }
        return layout->totalSizeHint().height();
    }
    return std::max(document->sizeHint().height(), document->minimumHeight());
}

const platform::Clock& systemClock() {
    static const platform::SystemClock clock;
    return clock;
}

}  // namespace

PanelContent::PanelContent(QWidget* parent)
    : PanelContent(systemClock(), platform::Calendar::current(), parent) {}

PanelContent::PanelContent(const platform::Clock& clock, platform::Calendar calendar,
                           QWidget* parent)
    : QWidget(parent), clock_(clock), calendar_(std::move(calendar)) {
    setAutoFillBackground(false);
    actions_ = new PanelActions(this);
    connect(actions_, &PanelActions::toggleMode, this, &PanelContent::toggleMode);
    connect(actions_, &PanelActions::providerSelected, this, &PanelContent::providerSelected);
    connect(actions_, &PanelActions::windowSelected, this, &PanelContent::windowSelected);
    connect(actions_, &PanelActions::otherWindowSelected, this, &PanelContent::otherWindowSelected);
    connect(actions_, &PanelActions::chartStyleSelected, this, &PanelContent::chartStyleSelected);
    connect(actions_, &PanelActions::toggleAccountDetails, this,
            &PanelContent::toggleAccountDetails);
    connect(actions_, &PanelActions::refreshServices, this, &PanelContent::refreshServices);
    connect(actions_, &PanelActions::stopService, this, &PanelContent::stopService);
    connect(actions_, &PanelActions::providerToggled, this, &PanelContent::providerToggled);
    connect(actions_, &PanelActions::notificationsToggled, this,
            &PanelContent::notificationsToggled);
    connect(actions_, &PanelActions::notifyBelowSelected, this, &PanelContent::notifyBelowSelected);
    connect(actions_, &PanelActions::notifyCriticalSelected, this,
            &PanelContent::notifyCriticalSelected);
    connect(actions_, &PanelActions::trayIconStyleSelected, this,
            &PanelContent::trayIconStyleSelected);
    connect(actions_, &PanelActions::panelAppearanceSelected, this,
            &PanelContent::panelAppearanceSelected);
    connect(actions_, &PanelActions::startAtLoginToggled, this, &PanelContent::startAtLoginToggled);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = Kit::makeTransparent(this);
    header->setFixedHeight(headerHeight);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 4, 20, 0);
    row->setSpacing(8);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->setContentsMargins(0, 0, 0, 0);
    titleLabel_ =
        Kit::makeLabel(QStringLiteral("Kestrane"), 12, QFont::Medium, PanelTheme::muted(), header);
    titleLabel_->setObjectName(QStringLiteral("title"));
    subtitleLabel_ = Kit::makeLabel(QStringLiteral("Лимиты и расход"), 10, QFont::Normal,
                                    PanelTheme::muted(), header);
    subtitleLabel_->setObjectName(QStringLiteral("subtitle"));
    titles->addStretch();
    titles->addWidget(titleLabel_);
    titles->addWidget(subtitleLabel_);
    titles->addStretch();
    row->addLayout(titles);
    row->addStretch();
    const auto makeHeaderButton = [header](const QString& symbol, const QString& help) {
        auto* button = new PanelButton(QString(), symbol, PanelTheme::muted(), header);
        button->setFixedSize(24, 24);
        button->setToolTip(help);
        button->setAccessibleName(help);
        return button;
    };
    refreshButton_ =
        makeHeaderButton(QStringLiteral("arrow.clockwise"), QStringLiteral("Обновить лимиты"));
    servicesButton_ =
        makeHeaderButton(QStringLiteral("server.rack"), QStringLiteral("Локальные сервисы"));
    modeButton_ = makeHeaderButton(QStringLiteral("gearshape"), QStringLiteral("Настройки"));
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    servicesButton_->setObjectName(QStringLiteral("servicesButton"));
    modeButton_->setObjectName(QStringLiteral("modeButton"));
    connect(refreshButton_, &QAbstractButton::clicked, this, [this] { refreshUsage(); });
    connect(servicesButton_, &QAbstractButton::clicked, this, [this] { showServices(); });
    connect(modeButton_, &QAbstractButton::clicked, this, [this] { toggleMode(); });
    row->addWidget(refreshButton_);
    row->addWidget(servicesButton_);
    row->addWidget(modeButton_);
    layout->addWidget(header);

    scrollView_ = new QScrollArea(this);
    // Tab goes from control to control; the scrolling area follows the focus by itself.
    scrollView_->setFocusPolicy(Qt::NoFocus);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setWidgetResizable(false);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView_->setAutoFillBackground(false);
    scrollView_->viewport()->setAutoFillBackground(false);
    // A thin scroller in the document's right margin, in the spirit of an overlay scroller.
    scrollView_->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 4px 2px 4px 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 110); border-radius: 3px;"
        " min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    layout->addWidget(scrollView_, 1);

    resize(panelWidth, 600);
    render();
}

PanelContent::~PanelContent() = default;

// ---- actions -----------------------------------------------------------------------------

void PanelContent::showBoard(const std::shared_ptr<const app::BoardSnapshot>& snapshot) {
    calendar_ = snapshot->calendar;
    historyError_ = snapshot->historyError;
    states_.clear();
    for (const ProviderKind kind : model::allProviderKinds) {
        const app::ProviderState& state = snapshot->state(kind);
        states_.push_back({kind, snapshot->isEnabled(kind), state.usage, state.error});
    }
    outlooks_ = snapshot;
    render();
}

void PanelContent::showRefreshing(bool refreshing) {
    if (refreshing == isRefreshing_) return;
    isRefreshing_ = refreshing;
    renderHeader();
}

void PanelContent::showLocalServices(localservices::LocalServicesViewState state) {
    localServices_ = std::move(state);
    render();
}

void PanelContent::refreshUsage() {
    emit refreshRequested();
    render();
}

void PanelContent::toggleMode() {
    mode_ = mode_ == Mode::overview ? Mode::settings : Mode::overview;
    render();
}

void PanelContent::showServices() { showMode(Mode::services); }

void PanelContent::showMode(Mode mode) {
    mode_ = mode;
    render();
    if (mode_ == Mode::services) emit servicesOpened();
}

void PanelContent::providerSelected(int segment) {
    std::vector<ProviderKind> enabled;
    for (const ProviderViewState& state : states_) {
        if (state.isEnabled) enabled.push_back(state.provider);
    }
    if (segment < 0 || segment >= static_cast<int>(enabled.size())) return;
    settings_.selectedProvider = enabled[static_cast<std::size_t>(segment)];
    emit providerChosen(*settings_.selectedProvider);
    render();
}

void PanelContent::windowSelected(int index) { selectWindow(index); }

void PanelContent::otherWindowSelected(int index) { selectWindow(index); }

void PanelContent::selectWindow(int index) {
    if (const ProviderViewState* state = selectedState(); state && state->usage) {
        const auto& windows = state->usage->windows;
        if (index >= 0 && index < static_cast<int>(windows.size())) {
            selectedWindowIDs_[state->provider] = windows[static_cast<std::size_t>(index)].id;
        }
    }
    render();
}

void PanelContent::chartStyleSelected(int segment) {
    settings_.chartShowsBurn = segment != 0;
    emit chartStyleChosen(settings_.chartShowsBurn);
    render();
}

void PanelContent::trayIconStyleSelected(int segment) {
    static constexpr app::TrayIconStyle styles[] = {
        app::TrayIconStyle::automatic, app::TrayIconStyle::light, app::TrayIconStyle::dark};
    if (segment < 0 || segment >= static_cast<int>(std::size(styles))) return;
    settings_.desktop.trayIconStyle = styles[segment];
    emit trayIconStyleChosen(settings_.desktop.trayIconStyle);
    render();
}

void PanelContent::panelAppearanceSelected(int segment) {
    static constexpr app::PanelAppearance appearances[] = {
        app::PanelAppearance::system, app::PanelAppearance::light, app::PanelAppearance::dark};
    if (segment < 0 || segment >= static_cast<int>(std::size(appearances))) return;
    settings_.desktop.panelAppearance = appearances[segment];
    emit panelAppearanceChosen(settings_.desktop.panelAppearance);
    render();
}

void PanelContent::startAtLoginToggled(bool isOn) {
    emit startAtLoginChosen(isOn);
    render();
}

void PanelContent::toggleAccountDetails() {
    showsAccountDetails_ = !showsAccountDetails_;
    render();
}

void PanelContent::refreshServices() { emit servicesRefreshRequested(); }

void PanelContent::stopService(const QString& serviceID) {
    const auto& rows = localServices_.services;
    const auto found =
        std::find_if(rows.begin(), rows.end(), [&](const localservices::LocalService& row) {
            return Kit::toQString(row.id()) == serviceID;
        });
    // A row gone, or kept in its place after its stop: nothing to ask.
    if (found == rows.end() || localServices_.stoppedServiceIDs.count(found->id()) > 0) return;
    // A copy: the list may change while the question is open.
    const localservices::LocalService row = *found;
    if (stopConfirmation_) return;
    stopConfirmation_ = new StopConfirmation(row, *window());
    QPointer<PanelContent> self(this);
    connect(stopConfirmation_, &StopConfirmation::finished, this, [self, row](bool confirmed) {
        if (self && confirmed) emit self->serviceStopRequested(row);
    });
    stopConfirmation_->open();
}

void PanelContent::providerToggled(ProviderKind provider, bool isOn) {
    emit providerToggleRequested(provider, isOn);
}

void PanelContent::notificationsToggled(bool isOn) {
    emit notificationsEnabledChosen(isOn);
    render();
}

void PanelContent::notifyBelowSelected(int percent) {
    emit notifyBelowPercentChosen(percent);
    render();
}

void PanelContent::notifyCriticalSelected(int percent) {
    emit notifyCriticalPercentChosen(percent);
    render();
}

// ---- rendering ---------------------------------------------------------------------------

void PanelContent::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Colours follow the palette: a light/dark switch re-renders with the new values.
    if (event->type() == QEvent::PaletteChange && !rendering_) render();
}

const ProviderViewState* PanelContent::selectedState() const {
    const ProviderViewState* first = nullptr;
    for (const ProviderViewState& state : states_) {
        if (!state.isEnabled) continue;
        if (!first) first = &state;
        if (settings_.selectedProvider && state.provider == *settings_.selectedProvider) {
            return &state;
        }
    }
    return first;
}

void PanelContent::renderHeader() {
    const bool overview = mode_ == Mode::overview;
    refreshButton_->setVisible(overview);
    servicesButton_->setVisible(overview);
    refreshButton_->setEnabled(!isRefreshing_);
    const QString modeHelp =
        overview ? QStringLiteral("Настройки") : QStringLiteral("Назад к лимитам");
    modeButton_->setSymbol(overview ? QStringLiteral("gearshape")
                                    : QStringLiteral("chevron.backward"));
    modeButton_->setToolTip(modeHelp);
    modeButton_->setAccessibleName(modeHelp);

    titleLabel_->setFont(Kit::panelFont(*this, overview ? 12 : 14, QFont::Medium));
    const NamedColor& titleColor = overview ? PanelTheme::muted() : PanelTheme::text();
    Kit::setTextColor(titleLabel_, titleColor, *this);
    Kit::setTextColor(subtitleLabel_, PanelTheme::muted(), *this);
    switch (mode_) {
        case Mode::overview: {
            titleLabel_->setText(QStringLiteral("Kestrane"));
            const ProviderViewState* state = selectedState();
            if (isRefreshing_) {
                subtitleLabel_->setText(QStringLiteral("Обновляю данные..."));
            } else if (state && state->usage) {
                subtitleLabel_->setText(QStringLiteral("Обновлено в ") +
                                        Kit::toQString(model::DateFormatting::updated(
                                            state->usage->updatedAt, calendar_)));
            } else {
                subtitleLabel_->setText(QStringLiteral("Лимиты и расход"));
            }
            break;
        }
        case Mode::services:
            titleLabel_->setText(QStringLiteral("Локальные сервисы"));
            subtitleLabel_->setText(Kit::toQString(platform::localServicesSubtitle()));
            break;
        case Mode::settings:
            titleLabel_->setText(QStringLiteral("Настройки"));
            subtitleLabel_->setText(QStringLiteral("Подключенные сервисы"));
            break;
    }
}

void PanelContent::render() {
    rendering_ = true;
    // The focus, if a control of the panel has it (the keyboard brought it there), is put back
    // where it was (the old controls go), or on the first control of a new screen.
    QWidget* focused = window()->focusWidget();
    const bool focusWithin = focused && focused != this && isAncestorOf(focused);
    const bool screenChanged = renderedMode_ && *renderedMode_ != mode_;
    std::optional<FocusPlace> place;
    if (focusWithin && !screenChanged && scrollView_->widget()) {
        place = focusPlace(scrollView_->widget(), focused);
    }
    renderHeader();
    installDocument(makeScreen());
    renderedMode_ = mode_;
    if (focusWithin) {
        QWidget* target = nullptr;
        if (place) target = controlAt(scrollView_->widget(), *place);
        if (!target && (screenChanged || place)) {
            const QList<QWidget*> stops = tabStops(scrollView_->widget());
            target = stops.isEmpty() ? modeButton_ : stops.constFirst();
        }
        if (target) {
            target->setFocus(Qt::TabFocusReason);
            scrollView_->ensureWidgetVisible(target);
        }
    }
    rendering_ = false;
}

QList<QWidget*> PanelContent::focusableControls() const { return tabStops(this); }

QWidget* PanelContent::makeScreen() {
    const PanelScreenContext context{*this, calendar_, clock_.now(), *actions_};
    switch (mode_) {
        case Mode::overview: {
            const ProviderViewState* selected = selectedState();
            const std::size_t window = selected ? pickSelectedWindow(*selected) : 0;
            const OverviewScreen::State state{.states = states_,
                                              .selected = selected,
                                              .selectedWindow = window,
                                              .chartStyle = chartStyle(),
                                              .showsAccountDetails = showsAccountDetails_,
                                              .historyError = historyError_,
                                              .outlooks = outlooks_.get()};
            return OverviewScreen(state, context).make();
        }
        case Mode::services:
            return LocalServicesScreen(localServices_, context).make();
        case Mode::settings:
            return SettingsScreen(states_, settings_.notifications, settings_.desktop, context)
                .make();
    }
    return nullptr;
}

std::size_t PanelContent::pickSelectedWindow(const ProviderViewState& state) {
    if (!state.usage || state.usage->windows.empty()) return 0;
    const auto& windows = state.usage->windows;
    std::size_t index = 0;
    if (const auto remembered = selectedWindowIDs_.find(state.provider);
        remembered != selectedWindowIDs_.end()) {
        for (std::size_t i = 0; i < windows.size(); ++i) {
            if (windows[i].id == remembered->second) {
                index = i;
                break;
            }
        }
    }
    selectedWindowIDs_[state.provider] = windows[index].id;
    return index;
}

int PanelContent::maximumVisibleHeight(std::optional<int> visibleFrameHeight) {
    if (!visibleFrameHeight) return 700;
    return std::min(*visibleFrameHeight - 130, 700);
}

void PanelContent::installDocument(QWidget* document) {
    auto* container = new QWidget;
    container->setAutoFillBackground(false);
    document->setParent(container);
    document->setAutoFillBackground(false);
    document->show();
    const int fitting = fittingHeight(document);
    document->setFixedSize(documentWidth, std::max(0, fitting));
    document->move(20, 8);
    const int documentHeight = std::max(1, fitting + 24);
    container->setFixedSize(panelWidth, documentHeight);

    std::optional<int> frameHeight = visibleFrameHeight_;
    if (!frameHeight) {
        QScreen* screen = window()->screen();
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) frameHeight = screen->availableGeometry().height();
    }
    const int maximum = std::max(1, maximumVisibleHeight(frameHeight));
    const int visible = std::min(documentHeight, maximum);
    scrollView_->setVerticalScrollBarPolicy(documentHeight > maximum ? Qt::ScrollBarAlwaysOn
                                                                     : Qt::ScrollBarAlwaysOff);

    // The old document may hold the control whose signal is being handled: it goes once
    // control returns to the event loop.
    if (QWidget* old = scrollView_->takeWidget()) old->deleteLater();
    scrollView_->setWidget(container);
    // setWidget turns background filling on, which would paint the body in the system's
    // window colour over the backdrop (two tones, square bottom corners, no edge line).
    container->setAutoFillBackground(false);
    container->show();

    preferredContentSize_ = QSize(panelWidth, visible + headerHeight);
    if (!parentWidget()) resize(preferredContentSize_);
    emit contentSizeChanged(preferredContentSize_);
}

}  // namespace kestrane::ui
