#include "ui/QuotaPopoverViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/ProviderPreferences.h"
#include "forecast/ForecastInsight.h"
#include "forecast/RhythmForecaster.h"
#include "history/RecentUsageInsight.h"
#include "model/DateFormatting.h"
#include "ui/LocalServiceStopButton.h"
#include "ui/PanelButton.h"
#include "ui/ProviderMarkView.h"
#include "ui/ProviderSwitch.h"
#include "ui/QuotaSegmentedControl.h"
#include "ui/QuotaSurface.h"
#include "ui/QuotaTheme.h"
#include "ui/UsageBarView.h"
#include "ui/WindowButton.h"

namespace kestrane::ui {

namespace {

using model::ProviderKind;

// Text columns inside the 408-point document keep 16 points clear on both sides.
constexpr int textWidth = 376;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString displayName(ProviderKind kind) { return toQString(model::rawValue(kind)); }

QString formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return QString::fromLatin1(buffer);
}

QFont panelFont(const QWidget& reference, int pixelSize, QFont::Weight weight) {
    QFont font = reference.font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QLabel* makeLabel(const QString& text, int pixelSize, QFont::Weight weight, const NamedColor& color,
                  QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(panelFont(*parent, pixelSize, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color.resolve(*parent));
    palette.setColor(QPalette::Text, color.resolve(*parent));
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Word wrapping breaks only between words; long paths and commands get invisible break
// opportunities so they wrap inside the column instead of running past it.
QString breakable(const QString& text) {
    QString result;
    result.reserve(text.size() + text.size() / 8);
    int run = 0;
    for (const QChar character : text) {
        result += character;
        run = character.isSpace() ? 0 : run + 1;
        if (run >= 24 &&
            (character == QLatin1Char('/') || character == QLatin1Char('-') ||
             character == QLatin1Char('=') || character == QLatin1Char(',') || run >= 40)) {
            result += QChar(0x200B);
            run = 0;
        }
    }
    return result;
}

// A label that wraps at `width` and whose text can be selected and copied.
QLabel* makeWrappingLabel(const QString& text, int pixelSize, QFont::Weight weight,
                          const NamedColor& color, int width, QWidget* parent) {
    QLabel* label = makeLabel(breakable(text), pixelSize, weight, color, parent);
    label->setWordWrap(true);
    label->setFixedWidth(width);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(text);
    return label;
}

QVBoxLayout* makeStack(QWidget* owner, int spacing) {
    auto* stack = new QVBoxLayout(owner);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return stack;
}

QWidget* makeTransparent(QWidget* parent) {
    auto* widget = new QWidget(parent);
    widget->setAutoFillBackground(false);
    return widget;
}

// A rounded card: content inset 16 on every side, 408 wide.
QuotaSurface* makeCard(const NamedColor& fill, int minimumHeight, QWidget* parent) {
    auto* card = new QuotaSurface(fill, std::nullopt, 10, parent);
    card->setFixedWidth(QuotaPopoverViewController::documentWidth);
    card->setMinimumHeight(minimumHeight);
    return card;
}

QWidget* makeDivider(QWidget* parent) {
    auto* divider = new QuotaSurface(QuotaTheme::separator(), std::nullopt, 0, parent);
    // Half a point: one device pixel on a doubled screen, a faint line on a single one.
    divider->setFixedSize(QuotaPopoverViewController::documentWidth, 1);
    divider->setObjectName(QStringLiteral("divider"));
    return divider;
}

// The height the document needs at its fixed width.
int fittingHeight(QWidget* document) {
    if (QLayout* layout = document->layout()) {
        layout->activate();
        if (layout->hasHeightForWidth()) {
            return layout->totalHeightForWidth(QuotaPopoverViewController::documentWidth);
        }
        return layout->totalSizeHint().height();
    }
    return std::max(document->sizeHint().height(), document->minimumHeight());
}

bool resetHasPassed(const model::LimitWindow& window, platform::Date now) {
    return window.resetsAt && *window.resetsAt <= now;
}

double remainingOf(const model::LimitWindow& window) {
    const double remaining = 100 - window.usedPercent;
    return std::isnan(remaining) ? 0 : std::clamp(remaining, 0.0, 100.0);
}

QString abbreviatedHome(const std::string& path) {
    const QString text = toQString(path);
    const QString home = QDir::homePath();
    if (home.size() > 1 && (text == home || text.startsWith(home + QLatin1Char('/')))) {
        return QLatin1Char('~') + text.mid(home.size());
    }
    return text;
}

// A memory size as the platform's byte-count formatter writes it in Russian: binary
// multiples, no decimals up to kilobytes, one for megabytes, two above, trailing zeros dropped.
QString memoryText(std::uint64_t bytes) {
    static const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ", "ПБ"};
    if (bytes < 1024) return QString::number(bytes) + QStringLiteral(" байт");
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
    QString number = QString::number(value, 'f', decimals);
    if (decimals > 0) {
        while (number.endsWith(QLatin1Char('0'))) number.chop(1);
        if (number.endsWith(QLatin1Char('.'))) number.chop(1);
    }
    number.replace(QLatin1Char('.'), QLatin1Char(','));
    return number + QLatin1Char(' ') + QString::fromUtf8(units[unit]);
}

// The window pop-up: borderless, its title in the muted tint with a small chevron after it;
// the list itself is the toolkit's.
class WindowChooser : public QComboBox {
  public:
    using QComboBox::QComboBox;

    QSize sizeHint() const override {
        const int textWidth = fontMetrics().horizontalAdvance(currentText());
        return {std::min(maximumWidth(), textWidth + chevronGap + chevronSide + 2), 22};
    }
    QSize minimumSizeHint() const override { return {chevronSide + 20, 22}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        const QColor color = QuotaTheme::muted().resolve(*this);
        const qreal textRoom = width() - chevronGap - chevronSide;
        const QString title =
            fontMetrics().elidedText(currentText(), Qt::ElideRight, static_cast<int>(textRoom));
        const int titleWidth = fontMetrics().horizontalAdvance(title);
        painter.setPen(color);
        painter.setFont(font());
        painter.drawText(QRectF(0, 0, titleWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
                         title);
        const QImage chevron = PanelButton::symbolImage(QStringLiteral("chevron.down"), color,
                                                        chevronSide, devicePixelRatioF());
        painter.drawImage(QRectF(titleWidth + chevronGap, (height() - chevronSide) / 2.0,
                                 chevronSide, chevronSide),
                          chevron);
    }

  private:
    static constexpr int chevronGap = 4;
    static constexpr int chevronSide = 8;
};

const platform::Clock& systemClock() {
    static const platform::SystemClock clock;
    return clock;
}

}  // namespace

QuotaPopoverViewController::QuotaPopoverViewController(platform::PreferencesStore& defaults,
                                                       QWidget* parent)
    : QuotaPopoverViewController(defaults, systemClock(), platform::Calendar::current(), parent) {}

QuotaPopoverViewController::QuotaPopoverViewController(platform::PreferencesStore& defaults,
                                                       const platform::Clock& clock,
                                                       platform::Calendar calendar, QWidget* parent)
    : QWidget(parent), defaults_(defaults), clock_(clock), calendar_(std::move(calendar)) {
    // A stored name that is not exactly a provider's raw value selects nothing.
    if (const auto stored = defaults_.value(app::ProviderPreferences::selectedProviderKey);
        stored && stored->is_string()) {
        selectedProvider_ = model::providerKindFromRawValue(stored->get<std::string>());
    }
    if (const auto stored = defaults_.value(app::ProviderPreferences::chartShowsBurnKey);
        stored && stored->is_boolean() && stored->get<bool>()) {
        chartStyle_ = ChartStyle::burn;
    }
    setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = makeTransparent(this);
    header->setFixedHeight(headerHeight);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 4, 20, 0);
    row->setSpacing(8);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->setContentsMargins(0, 0, 0, 0);
    titleLabel_ =
        makeLabel(QStringLiteral("Kestrane"), 12, QFont::Medium, QuotaTheme::muted(), header);
    titleLabel_->setObjectName(QStringLiteral("title"));
    subtitleLabel_ = makeLabel(QStringLiteral("Лимиты и расход"), 10, QFont::Normal,
                               QuotaTheme::muted(), header);
    subtitleLabel_->setObjectName(QStringLiteral("subtitle"));
    titles->addStretch();
    titles->addWidget(titleLabel_);
    titles->addWidget(subtitleLabel_);
    titles->addStretch();
    row->addLayout(titles);
    row->addStretch();
    const auto makeHeaderButton = [header](const QString& symbol, const QString& help) {
        auto* button = new PanelButton(QString(), symbol, QuotaTheme::muted(), header);
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

QuotaPopoverViewController::~QuotaPopoverViewController() = default;

// ---- actions -----------------------------------------------------------------------------

void QuotaPopoverViewController::refreshUsage() {
    if (onRefresh) onRefresh();
    render();
}

void QuotaPopoverViewController::toggleMode() {
    mode_ = mode_ == Mode::overview ? Mode::settings : Mode::overview;
    render();
}

void QuotaPopoverViewController::showServices() {
    mode_ = Mode::services;
    render();
    if (onOpenServices) onOpenServices();
}

void QuotaPopoverViewController::providerSelected(int segment) {
    std::vector<ProviderKind> enabled;
    for (const ProviderViewState& state : states_) {
        if (state.isEnabled) enabled.push_back(state.provider);
    }
    if (segment < 0 || segment >= static_cast<int>(enabled.size())) return;
    selectedProvider_ = enabled[static_cast<std::size_t>(segment)];
    defaults_.setValue(app::ProviderPreferences::selectedProviderKey,
                       std::string(model::rawValue(*selectedProvider_)));
    render();
}

void QuotaPopoverViewController::windowSelected(int index) { selectWindow(index); }

void QuotaPopoverViewController::otherWindowSelected(int index) { selectWindow(index); }

void QuotaPopoverViewController::selectWindow(int index) {
    if (const ProviderViewState* state = selectedState(); state && state->usage) {
        const auto& windows = state->usage->windows;
        if (index >= 0 && index < static_cast<int>(windows.size())) {
            selectedWindowIDs_[state->provider] = windows[static_cast<std::size_t>(index)].id;
        }
    }
    render();
}

void QuotaPopoverViewController::chartStyleSelected(int segment) {
    chartStyle_ = segment != 0 ? ChartStyle::burn : ChartStyle::remaining;
    defaults_.setValue(app::ProviderPreferences::chartShowsBurnKey,
                       chartStyle_ == ChartStyle::burn);
    render();
}

void QuotaPopoverViewController::toggleAccountDetails() {
    showsAccountDetails_ = !showsAccountDetails_;
    render();
}

void QuotaPopoverViewController::refreshServices() {
    if (onRefreshServices) onRefreshServices();
}

void QuotaPopoverViewController::stopService(const QString& serviceID) {
    const auto& rows = localServices_.services;
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const app::LocalService& row) {
        return toQString(row.id()) == serviceID;
    });
    if (found == rows.end()) return;
    // A copy: the list may change while the question is open.
    const app::LocalService row = *found;
    QPointer<QuotaPopoverViewController> self(this);
    bool confirmed = false;
    if (confirmStop) {
        confirmed = confirmStop(row);
    } else {
        QPointer<QMessageBox> alert = makeStopConfirmation(row, this);
        alert->exec();
        confirmed = alert && alert->buttonRole(alert->clickedButton()) == QMessageBox::AcceptRole;
        if (alert) alert->deleteLater();
    }
    // The panel may have been closed (and this controller dropped) while the alert was open.
    if (!self) return;
    if (!confirmStop) window()->activateWindow();
    if (confirmed && onStopService) onStopService(row);
}

void QuotaPopoverViewController::providerToggled(ProviderKind provider, bool isOn) {
    if (onToggle) onToggle(provider, isOn);
}

QMessageBox* QuotaPopoverViewController::makeStopConfirmation(const app::LocalService& service,
                                                              QWidget* parent) {
    auto* alert = new QMessageBox(parent);
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(QStringLiteral("Kestrane"));
    alert->setText(QStringLiteral("Остановить ") + toQString(service.name) + QStringLiteral("?"));
    QString informative = QStringLiteral("Kestrane повторно проверит PID ") +
                          QString::number(service.pid) +
                          QStringLiteral(" и отправит только SIGTERM.");
    if (!service.project) {
        informative +=
            QStringLiteral(" Проект не определен - проверьте команду и процесс перед остановкой.");
    }
    alert->setInformativeText(informative);
    QPushButton* stop = alert->addButton(QStringLiteral("Остановить"), QMessageBox::AcceptRole);
    alert->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    alert->setDefaultButton(stop);
    return alert;
}

// ---- rendering ---------------------------------------------------------------------------

void QuotaPopoverViewController::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Colours follow the palette: a light/dark switch re-renders with the new values.
    if (event->type() == QEvent::PaletteChange && !rendering_) render();
}

const ProviderViewState* QuotaPopoverViewController::selectedState() const {
    const ProviderViewState* first = nullptr;
    for (const ProviderViewState& state : states_) {
        if (!state.isEnabled) continue;
        if (!first) first = &state;
        if (selectedProvider_ && state.provider == *selectedProvider_) return &state;
    }
    return first;
}

void QuotaPopoverViewController::renderHeader() {
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

    titleLabel_->setFont(panelFont(*this, overview ? 12 : 14, QFont::Medium));
    const NamedColor& titleColor = overview ? QuotaTheme::muted() : QuotaTheme::text();
    for (auto [label, color] :
         {std::pair{titleLabel_, &titleColor}, std::pair{subtitleLabel_, &QuotaTheme::muted()}}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color->resolve(*this));
        label->setPalette(palette);
    }
    switch (mode_) {
        case Mode::overview: {
            titleLabel_->setText(QStringLiteral("Kestrane"));
            const ProviderViewState* state = selectedState();
            if (isRefreshing_) {
                subtitleLabel_->setText(QStringLiteral("Обновляю данные..."));
            } else if (state && state->usage) {
                subtitleLabel_->setText(
                    QStringLiteral("Обновлено в ") +
                    toQString(model::DateFormatting::updated(state->usage->updatedAt, calendar_)));
            } else {
                subtitleLabel_->setText(QStringLiteral("Лимиты и расход"));
            }
            break;
        }
        case Mode::services:
            titleLabel_->setText(QStringLiteral("Локальные сервисы"));
            subtitleLabel_->setText(QStringLiteral("Процессы на этом Mac"));
            break;
        case Mode::settings:
            titleLabel_->setText(QStringLiteral("Настройки"));
            subtitleLabel_->setText(QStringLiteral("Подключенные сервисы"));
            break;
    }
}

void QuotaPopoverViewController::render() {
    rendering_ = true;
    renderHeader();
    QWidget* document = nullptr;
    switch (mode_) {
        case Mode::overview:
            document = makeOverview();
            break;
        case Mode::services:
            document = makeServices();
            break;
        case Mode::settings:
            document = makeSettings();
            break;
    }
    installDocument(document);
    rendering_ = false;
}

int QuotaPopoverViewController::maximumVisibleHeight(std::optional<int> visibleFrameHeight) {
    if (!visibleFrameHeight) return 700;
    return std::min(*visibleFrameHeight - 130, 700);
}

void QuotaPopoverViewController::installDocument(QWidget* document) {
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

    std::optional<int> frameHeight;
    if (visibleFrameHeight) {
        frameHeight = visibleFrameHeight();
    } else {
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
    container->show();

    preferredContentSize_ = QSize(panelWidth, visible + headerHeight);
    if (!parentWidget()) resize(preferredContentSize_);
    if (onSizeChange) onSizeChange(preferredContentSize_);
}

// ---- overview ----------------------------------------------------------------------------

QWidget* QuotaPopoverViewController::makeOverview() {
    auto* document = makeTransparent(this);
    document->setObjectName(QStringLiteral("overview"));
    QVBoxLayout* stack = makeStack(document, 12);

    const ProviderViewState* selected = selectedState();
    if (!selected) {
        QWidget* card = makeMessageCard(
            nullptr, QStringLiteral("Подключите первый сервис"),
            QStringLiteral("Выберите провайдеров в настройках. Лимиты появятся здесь после входа "
                           "в их приложения."),
            document);
        auto* choose = new PanelButton(QStringLiteral("Выбрать провайдеров"), QString(),
                                       QuotaTheme::text(), card);
        choose->setBezel(PanelButton::Bezel::rounded);
        choose->setObjectName(QStringLiteral("chooseProviders"));
        connect(choose, &QAbstractButton::clicked, this, [this] { toggleMode(); });
        auto* cardStack = static_cast<QVBoxLayout*>(card->layout()->itemAt(0)->layout());
        cardStack->addSpacing(4);
        cardStack->addWidget(choose, 0, Qt::AlignLeft);
        stack->addWidget(card);
        return document;
    }

    QStringList labels;
    int selectedSegment = 0;
    for (const ProviderViewState& state : states_) {
        if (!state.isEnabled) continue;
        if (&state == selected) selectedSegment = static_cast<int>(labels.size());
        labels << displayName(state.provider);
    }
    if (labels.size() >= 2) {
        auto* providers = new QuotaSegmentedControl(
            labels, documentWidth, [this](int segment) { providerSelected(segment); }, document);
        providers->setSelectedSegment(selectedSegment);
        providers->setObjectName(QStringLiteral("providerSwitch"));
        providers->setAccessibleName(QStringLiteral("Провайдер"));
        stack->addWidget(providers);
    }
    QWidget* card = makeProviderCard(*selected);
    card->setParent(document);
    stack->addWidget(card);
    if (historyError_) {
        // The history could not be saved or read: the chart and forecast may lag behind.
        QLabel* warning = makeWrappingLabel(toQString(*historyError_), 10, QFont::Normal,
                                            QuotaTheme::warning(), documentWidth, document);
        warning->setObjectName(QStringLiteral("history-error"));
        stack->addWidget(warning);
    }
    return document;
}

QWidget* QuotaPopoverViewController::makeProviderCard(const ProviderViewState& state) {
    auto* holder = makeTransparent(this);
    QVBoxLayout* stack = makeStack(holder, 0);
    if (state.usage) {
        stack->addWidget(makeUsageCard(state, holder));
    } else {
        const QString message =
            state.error ? toQString(*state.error) : QStringLiteral("Получаю данные...");
        stack->addWidget(makeMessageCard(&state, QString(), message, holder));
    }
    return holder;
}

QWidget* QuotaPopoverViewController::makeProviderHeader(const ProviderViewState& state,
                                                        QWidget* parent) {
    auto* header = makeTransparent(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    row->addWidget(new ProviderMarkView(state.provider, 20, QuotaTheme::text(), header));
    QLabel* name =
        makeLabel(displayName(state.provider), 15, QFont::Normal, QuotaTheme::text(), header);
    name->setObjectName(QStringLiteral("providerName"));
    row->addWidget(name);
    if (state.usage && state.usage->plan && !state.usage->plan->empty()) {
        const QString plan = toQString(*state.usage->plan);
        QLabel* label = makeLabel(plan, 10, QFont::Normal, QuotaTheme::muted(), header);
        label->setText(label->fontMetrics().elidedText(plan, Qt::ElideRight, 90));
        label->setMaximumWidth(90);
        label->setToolTip(plan);
        label->setObjectName(QStringLiteral("plan"));
        row->addWidget(label);
    }
    header->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return header;
}

QWidget* QuotaPopoverViewController::makeMessageCard(const ProviderViewState* state,
                                                     const QString& title, const QString& message,
                                                     QWidget* parent) {
    QuotaSurface* card = makeCard(QuotaTheme::card(), 0, parent);
    card->setObjectName(QStringLiteral("messageCard"));
    auto* outer = new QVBoxLayout(card);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(6);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addLayout(stack);
    if (state) {
        stack->addWidget(makeProviderHeader(*state, card));
    } else {
        QLabel* heading = makeLabel(title, 13, QFont::Normal, QuotaTheme::text(), card);
        heading->setObjectName(QStringLiteral("messageTitle"));
        stack->addWidget(heading);
    }
    QLabel* text =
        makeWrappingLabel(message, 10, QFont::Normal, QuotaTheme::muted(), textWidth, card);
    text->setObjectName(QStringLiteral("message"));
    stack->addWidget(text);
    return card;
}

QWidget* QuotaPopoverViewController::makeUsageCard(const ProviderViewState& state,
                                                   QWidget* parent) {
    auto* card = makeTransparent(parent);
    card->setObjectName(QStringLiteral("usageCard"));
    card->setFixedWidth(documentWidth);
    QVBoxLayout* stack = makeStack(card, 12);
    const model::ProviderUsage& usage = *state.usage;
    const auto& windows = usage.windows;
    if (windows.empty()) {
        stack->addWidget(makeProviderHeader(state, card));
        QLabel* none = makeLabel(QStringLiteral("Активные лимиты не найдены"), 12, QFont::Normal,
                                 QuotaTheme::muted(), card);
        none->setObjectName(QStringLiteral("noWindows"));
        stack->addWidget(none);
        return card;
    }

    // A remembered window that no longer exists falls back to the first one.
    std::size_t selectedIndex = 0;
    if (const auto remembered = selectedWindowIDs_.find(state.provider);
        remembered != selectedWindowIDs_.end()) {
        for (std::size_t i = 0; i < windows.size(); ++i) {
            if (windows[i].id == remembered->second) {
                selectedIndex = i;
                break;
            }
        }
    }
    const model::LimitWindow& window = windows[selectedIndex];
    selectedWindowIDs_[state.provider] = window.id;
    const platform::Date now = clock_.now();
    const auto series = state.history.find(window.id);
    const history::UsageAnalytics analytics = history::UsageAnalytics::make(
        series == state.history.end() ? std::nullopt
                                      : std::optional<history::UsageSeries>(series->second),
        window, now, state.error.has_value());
    const bool resetPassed = resetHasPassed(window, now);

    // Top row: who, and which window.
    auto* top = makeTransparent(card);
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->setSpacing(8);
    topRow->addWidget(makeProviderHeader(state, top));
    topRow->addStretch();
    const QString selectedTitle = periodTitle(state.provider, window);
    if (windows.size() == 1) {
        QLabel* label = makeLabel(selectedTitle, 11, QFont::Normal, QuotaTheme::muted(), top);
        label->setText(label->fontMetrics().elidedText(selectedTitle, Qt::ElideRight, 210));
        label->setMaximumWidth(210);
        label->setToolTip(selectedTitle);
        label->setObjectName(QStringLiteral("windowTitle"));
        topRow->addWidget(label);
    } else {
        auto* chooser = new WindowChooser(top);
        chooser->setObjectName(QStringLiteral("windowChooser"));
        chooser->setAccessibleName(QStringLiteral("Период лимита"));
        chooser->setFont(panelFont(*this, 11, QFont::Normal));
        chooser->setMaximumWidth(180);
        chooser->setCursor(Qt::PointingHandCursor);
        for (const model::LimitWindow& each : windows)
            chooser->addItem(periodTitle(state.provider, each));
        chooser->setCurrentIndex(static_cast<int>(selectedIndex));
        connect(chooser, &QComboBox::activated, this, [this](int index) { windowSelected(index); });
        topRow->addWidget(chooser);
    }
    top->setFixedWidth(documentWidth);
    stack->addWidget(top);

    // The big figure and its caption, on one baseline.
    auto* figureRow = makeTransparent(card);
    auto* figures = new QHBoxLayout(figureRow);
    figures->setContentsMargins(0, 0, 0, 0);
    figures->setSpacing(8);
    const double remaining = analytics.remainingPercent;
    QLabel* figure = makeLabel(
        resetPassed ? QStringLiteral("--")
                    : QString::number(model::roundedPercent(remaining)) + QStringLiteral("%"),
        56, QFont::Medium, QuotaTheme::text(), figureRow);
    figure->setObjectName(QStringLiteral("figure"));
    QLabel* caption =
        makeLabel(resetPassed ? QStringLiteral("ожидаем сброс") : QStringLiteral("осталось"), 13,
                  QFont::Normal, QuotaTheme::muted(), figureRow);
    caption->setObjectName(QStringLiteral("figureCaption"));
    caption->setContentsMargins(
        0, 0, 0, std::max(0, figure->fontMetrics().descent() - caption->fontMetrics().descent()));
    figures->addWidget(figure, 0, Qt::AlignBottom);
    figures->addWidget(caption, 0, Qt::AlignBottom);
    figures->addStretch();
    stack->addWidget(figureRow);
    stack->addSpacing(5);

    auto* bar = new UsageBarView(resetPassed ? 0 : remaining, card);
    bar->setFixedSize(documentWidth, 10);
    bar->setObjectName(QStringLiteral("usageBar"));
    stack->addWidget(bar);

    QString resetText;
    if (!window.resetsAt) {
        resetText = QStringLiteral("Время сброса не указано сервисом");
    } else if (analytics.resetsAt && *analytics.resetsAt <= analytics.now) {
        resetText = QStringLiteral("Период завершен. Ждем обновление.");
    } else {
        resetText = QStringLiteral("Сброс ") +
                    toQString(model::DateFormatting::relativeReset(*window.resetsAt, now)) +
                    QStringLiteral(" · ") +
                    toQString(model::DateFormatting::reset(*window.resetsAt, calendar_));
    }
    QLabel* resetLine =
        makeWrappingLabel(resetText, 11, QFont::Normal, QuotaTheme::muted(), textWidth, card);
    resetLine->setObjectName(QStringLiteral("resetLine"));
    stack->addWidget(resetLine);

    if (QWidget* forecast = makeForecast(state, window, analytics, card)) {
        stack->addWidget(forecast);
        stack->addWidget(makeDivider(card));
    }

    auto* styleRow = makeTransparent(card);
    styleRow->setFixedWidth(documentWidth);
    auto* styleLayout = new QHBoxLayout(styleRow);
    styleLayout->setContentsMargins(0, 0, 0, 0);
    auto* styleControl = new QuotaSegmentedControl(
        {QStringLiteral("Остаток"), QStringLiteral("Темп")}, 144,
        [this](int segment) { chartStyleSelected(segment); }, styleRow);
    styleControl->setSelectedSegment(chartStyle_ == ChartStyle::burn ? 1 : 0);
    styleControl->setAccessibleName(QStringLiteral("Вид графика"));
    styleControl->setObjectName(QStringLiteral("chartStyle"));
    styleLayout->addWidget(styleControl);
    styleLayout->addStretch();
    stack->addWidget(styleRow);

    stack->addWidget(makeChart(analytics, card));

    if (const auto insight = history::RecentUsageInsight::make(analytics)) {
        stack->addWidget(makeDivider(card));
        QLabel* summary = makeWrappingLabel(toQString(insight->text), 11, QFont::Normal,
                                            QuotaTheme::text(), documentWidth, card);
        summary->setObjectName(QStringLiteral("recent-usage-summary"));
        stack->addWidget(summary);
    }

    if (windows.size() >= 2) {
        for (std::size_t i = 0; i < windows.size(); ++i) {
            if (i == selectedIndex) continue;
            const model::LimitWindow& other = windows[i];
            const QString value = resetHasPassed(other, now)
                                      ? QStringLiteral("Сброс")
                                      : QString::number(model::roundedPercent(remainingOf(other))) +
                                            QStringLiteral("%");
            auto* button = new WindowButton(static_cast<int>(i), periodTitle(state.provider, other),
                                            value, card);
            connect(button, &QAbstractButton::clicked, this,
                    [this, index = static_cast<int>(i)] { otherWindowSelected(index); });
            stack->addWidget(button);
        }
    }

    const bool hasDetails = !usage.recentModels.empty() || usage.spendUsed ||
                            (usage.spendLimit && *usage.spendLimit > 0);
    if (hasDetails) {
        auto* toggle = new PanelButton(
            showsAccountDetails_ ? QStringLiteral("Скрыть детали аккаунта")
                                 : QStringLiteral("Детали аккаунта"),
            showsAccountDetails_ ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"),
            QuotaTheme::muted(), card);
        toggle->setFontPixelSize(10);
        toggle->setSymbolSize(9);
        toggle->setObjectName(QStringLiteral("accountDetailsToggle"));
        connect(toggle, &QAbstractButton::clicked, this, [this] { toggleAccountDetails(); });
        stack->addWidget(toggle);
    }
    if (hasDetails && showsAccountDetails_) {
        const auto addDetail = [&](const QString& text, const QString& name) {
            QLabel* line =
                makeWrappingLabel(text, 10, QFont::Normal, QuotaTheme::muted(), textWidth, card);
            line->setObjectName(name);
            stack->addWidget(line);
            return line;
        };
        if (!usage.recentModels.empty()) {
            QStringList models;
            for (std::size_t i = 0; i < usage.recentModels.size() && i < 3; ++i) {
                models << toQString(usage.recentModels[i].model);
            }
            QLabel* line =
                addDetail(QStringLiteral("Модели в недавних сессиях: ") + models.join(u", "),
                          QStringLiteral("recentModels"));
            line->setToolTip(QStringLiteral(
                "Выборка из последних 64 локальных сессий за 24 часа. Это выбранные модели, а не "
                "доли расхода; фактическая модель отдельного запроса может отличаться."));
        }
        const QString currency = usage.currency ? toQString(*usage.currency) : QString();
        if (usage.spendUsed) {
            const QString limit =
                usage.spendLimit ? formatted("%.2f", *usage.spendLimit) : QStringLiteral("-");
            addDetail(QStringLiteral("Расходы: ") + formatted("%.2f", *usage.spendUsed) +
                          QStringLiteral(" из ") + limit + QLatin1Char(' ') + currency,
                      QStringLiteral("spending"));
        } else if (usage.spendLimit && *usage.spendLimit > 0) {
            addDetail(QStringLiteral("Баланс: ") + formatted("%.2f", *usage.spendLimit) +
                          QLatin1Char(' ') + currency,
                      QStringLiteral("spending"));
        }
    }

    if (state.error) {
        QLabel* stale =
            makeWrappingLabel(QStringLiteral("Данные не обновились. ") + toQString(*state.error),
                              11, QFont::Normal, QuotaTheme::warning(), textWidth, card);
        stale->setObjectName(QStringLiteral("staleWarning"));
        stack->addWidget(stale);
    }
    return card;
}

QWidget* QuotaPopoverViewController::makeForecast(const ProviderViewState& state,
                                                  const model::LimitWindow& window,
                                                  const history::UsageAnalytics& analytics,
                                                  QWidget* parent) {
    if (analytics.isStale() || !(analytics.remainingPercent > 0)) return nullptr;
    const auto rhythm = state.rhythms.find(window.id);
    if (rhythm == state.rhythms.end()) return nullptr;
    std::optional<double> recentRate;
    if (const auto observation = analytics.recentObservation()) {
        recentRate = observation->used / observation->seconds * 3600;
    }
    const platform::Date forecastNow =
        analytics.samples.empty() ? analytics.now : analytics.samples.back().date;
    const auto forecast =
        forecast::RhythmForecaster::forecast(rhythm->second, forecastNow, window.resetsAt,
                                             analytics.remainingPercent, recentRate, calendar_);
    if (!forecast) return nullptr;
    const forecast::ForecastInsight insight = forecast::ForecastInsight::make(
        *forecast, analytics.remainingPercent, analytics.now, calendar_);

    auto* block = makeTransparent(parent);
    block->setObjectName(QStringLiteral("usage-forecast"));
    block->setFixedWidth(documentWidth);
    QVBoxLayout* stack = makeStack(block, 4);
    QLabel* title = makeWrappingLabel(toQString(insight.title), 13, QFont::Normal,
                                      QuotaTheme::text(), textWidth, block);
    title->setObjectName(QStringLiteral("forecastTitle"));
    stack->addWidget(title);
    stack->addSpacing(2);  // 6 after the title in all
    QLabel* outcome = makeWrappingLabel(toQString(insight.outcome), 11, QFont::Normal,
                                        QuotaTheme::text(), textWidth, block);
    outcome->setObjectName(QStringLiteral("forecastOutcome"));
    stack->addWidget(outcome);
    QLabel* guidance = makeWrappingLabel(toQString(insight.guidance), 11, QFont::Normal,
                                         QuotaTheme::muted(), textWidth, block);
    guidance->setObjectName(QStringLiteral("forecastGuidance"));
    stack->addWidget(guidance);
    const QString days = QString::number(forecast->historyDays);
    const QString footnote =
        insight.range ? toQString(*insight.range) + QStringLiteral(" · ") + days +
                            QStringLiteral(" дн. истории")
                      : days + QStringLiteral(" дн. истории · ") +
                            (forecast->usesWeekdayPattern ? QStringLiteral("учтены дни недели")
                                                          : QStringLiteral("часы работы и паузы"));
    QLabel* note =
        makeWrappingLabel(footnote, 9, QFont::Normal, QuotaTheme::muted(), textWidth, block);
    note->setObjectName(QStringLiteral("forecastFootnote"));
    const QString help = QStringLiteral(
        "Прогноз основан на вашей локальной истории. Распорядок дополняется завершенными днями; "
        "остаток и ближайший темп учитываются при обновлении. Диапазон описывает разные "
        "наблюдавшиеся дни и не гарантирует результат при смене нагрузки.");
    note->setToolTip(help);
    note->setAccessibleDescription(help);
    stack->addWidget(note);
    return block;
}

QWidget* QuotaPopoverViewController::makeChart(const history::UsageAnalytics& analytics,
                                               QWidget* parent) {
    auto* chart = new UsageChartView(analytics, chartStyle_, calendar_, parent);
    chart->setObjectName(QStringLiteral("usageChart"));
    chart->setFixedSize(documentWidth, 164);
    return chart;
}

QString QuotaPopoverViewController::periodTitle(ProviderKind provider,
                                                const model::LimitWindow& window) {
    const QString title = toQString(window.periodTitle());
    const QString name = displayName(provider);
    if (toQString(window.name) == name && title.startsWith(name + QStringLiteral(" - "))) {
        return title.mid(name.size() + 3);
    }
    return title;
}

// ---- services ----------------------------------------------------------------------------

QWidget* QuotaPopoverViewController::makeServices() {
    auto* document = makeTransparent(this);
    document->setObjectName(QStringLiteral("services"));
    QVBoxLayout* stack = makeStack(document, 12);
    const app::LocalServicesViewState& state = localServices_;

    QuotaSurface* toolbar = makeCard(QuotaTheme::panel(), 42, document);
    toolbar->setObjectName(QStringLiteral("servicesToolbar"));
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(16, 9, 12, 9);
    row->setSpacing(8);
    QString status;
    if (state.isLoading) {
        status = QStringLiteral("Обновляю список...");
    } else if (state.updatedAt) {
        status = QStringLiteral("Найдено: ") + QString::number(state.services.size()) +
                 QStringLiteral(" • ") +
                 toQString(model::DateFormatting::updated(*state.updatedAt, calendar_));
    } else {
        status = QStringLiteral("Только пользовательские dev-сервисы");
    }
    QLabel* statusLabel = makeLabel(status, 10, QFont::Normal, QuotaTheme::text(), toolbar);
    statusLabel->setObjectName(QStringLiteral("servicesStatus"));
    row->addWidget(statusLabel);
    row->addStretch();
    auto* refresh =
        new PanelButton(QString(), QStringLiteral("arrow.clockwise"), QuotaTheme::text(), toolbar);
    refresh->setFixedSize(24, 24);
    refresh->setSymbolSize(13);
    refresh->setAccessibleName(QStringLiteral("Обновить список"));
    refresh->setToolTip(QStringLiteral("Обновить список"));
    refresh->setObjectName(QStringLiteral("refreshServices"));
    refresh->setEnabled(!state.isLoading);
    connect(refresh, &QAbstractButton::clicked, this, [this] { refreshServices(); });
    row->addWidget(refresh);
    stack->addWidget(toolbar);

    if (state.error) {
        stack->addWidget(makeMessageCard(nullptr, QStringLiteral("Требуется внимание"),
                                         toQString(*state.error), document));
    }
    if (!state.services.empty()) {
        for (const app::LocalService& service : state.services) {
            stack->addWidget(makeServiceCard(service, document));
        }
    } else if (state.isLoading) {
        stack->addWidget(makeMessageCard(
            nullptr, QStringLiteral("Сканирование"),
            QStringLiteral("Ищу локальные порты и ресурсоемкие dev-процессы..."), document));
    } else {
        stack->addWidget(makeMessageCard(
            nullptr, QStringLiteral("Все чисто"),
            QStringLiteral("Пользовательские dev-сервисы и ресурсоемкие процессы не найдены. "
                           "Системные процессы скрыты."),
            document));
    }
    return document;
}

QWidget* QuotaPopoverViewController::makeServiceCard(const app::LocalService& service,
                                                     QWidget* parent) {
    QuotaSurface* card = makeCard(QuotaTheme::card(), 150, parent);
    const QString id = toQString(service.id());
    card->setObjectName(QStringLiteral("service:") + id);
    auto* outer = new QVBoxLayout(card);
    outer->setContentsMargins(16, 16, 16, 16);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(7);
    stack->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addLayout(stack);

    const bool stopping = localServices_.stoppingServiceIDs.count(service.id()) > 0;
    auto* titleRow = makeTransparent(card);
    titleRow->setFixedWidth(textWidth);
    auto* titles = new QHBoxLayout(titleRow);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(8);
    QLabel* statusWord = makeLabel(
        stopping ? QStringLiteral("Останавливается...") : QStringLiteral("Работает"), 9,
        QFont::DemiBold, stopping ? QuotaTheme::warning() : QuotaTheme::running(), titleRow);
    statusWord->setObjectName(QStringLiteral("serviceStatus"));
    statusWord->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const QString fullName = toQString(service.name);
    QLabel* name = makeLabel(fullName, 13, QFont::Bold, QuotaTheme::text(), titleRow);
    name->setObjectName(QStringLiteral("serviceName"));
    const int nameRoom = textWidth - 8 - statusWord->sizeHint().width();
    name->setText(name->fontMetrics().elidedText(fullName, Qt::ElideMiddle, nameRoom));
    name->setToolTip(fullName);
    titles->addWidget(name);
    titles->addWidget(statusWord);
    titles->addStretch();
    stack->addWidget(titleRow);

    QString address;
    const QString pid = QString::number(service.pid);
    if (!service.ports.empty()) {
        QStringList ports;
        for (const int port : service.ports) ports << QString::number(port);
        address = QStringLiteral("Порт: ") + ports.join(u", ") + QStringLiteral(" • PID ") + pid;
    } else {
        address = QStringLiteral("Без TCP-порта • PID ") + pid;
    }
    QLabel* addressLabel = makeLabel(address, 10, QFont::DemiBold, QuotaTheme::text(), card);
    addressLabel->setObjectName(QStringLiteral("serviceAddress"));
    stack->addWidget(addressLabel);

    QStringList metrics;
    if (service.cpuPercent) metrics << formatted("CPU %.1f%%", *service.cpuPercent);
    if (service.memoryBytes) metrics << QStringLiteral("RAM ") + memoryText(*service.memoryBytes);
    if (service.startedAt) {
        metrics << QStringLiteral("Старт ") +
                       toQString(calendar_.format(*service.startedAt, "d MMM, HH:mm", "ru_RU"));
    }
    if (!metrics.isEmpty()) {
        QLabel* line = makeWrappingLabel(metrics.join(QStringLiteral(" • ")), 9, QFont::Normal,
                                         QuotaTheme::muted(), textWidth, card);
        line->setObjectName(QStringLiteral("serviceMetrics"));
        stack->addWidget(line);
    }

    QLabel* project = nullptr;
    if (service.project) {
        project = makeWrappingLabel(QStringLiteral("Проект: ") + toQString(service.project->name) +
                                        QLatin1Char('\n') + abbreviatedHome(service.project->path),
                                    9, QFont::Medium, QuotaTheme::muted(), textWidth, card);
    } else {
        QString text = QStringLiteral("Проект: неразобранный");
        if (service.workingDirectory) {
            text += QStringLiteral(" • ") + abbreviatedHome(*service.workingDirectory);
        }
        project = makeWrappingLabel(text, 9, QFont::Medium, QuotaTheme::warning(), textWidth, card);
    }
    project->setObjectName(QStringLiteral("serviceProject"));
    stack->addWidget(project);

    QLabel* command = makeWrappingLabel(QStringLiteral("Команда: ") + toQString(service.command), 9,
                                        QFont::Normal, QuotaTheme::muted(), textWidth, card);
    command->setObjectName(QStringLiteral("serviceCommand"));
    stack->addWidget(command);

    const bool stoppable = service.startToken.has_value() && service.pid >= 2;
    auto* stop = new LocalServiceStopButton(
        stoppable ? QStringLiteral("Остановить") : QStringLiteral("Остановка недоступна"), id,
        card);
    stop->setEnabled(stoppable && !stopping && !localServices_.isLoading);
    stop->setFixedHeight(24);
    connect(stop, &QAbstractButton::clicked, this, [this, id] { stopService(id); });
    stack->addSpacing(2);
    stack->addWidget(stop, 0, Qt::AlignLeft);
    return card;
}

// ---- settings ----------------------------------------------------------------------------

QWidget* QuotaPopoverViewController::makeSettings() {
    auto* document = makeTransparent(this);
    document->setObjectName(QStringLiteral("settings"));
    QVBoxLayout* stack = makeStack(document, 12);
    stack->addWidget(makeLabel(QStringLiteral("Сервисы в строке меню"), 12, QFont::Normal,
                               QuotaTheme::muted(), document));
    auto* rows = makeTransparent(document);
    QVBoxLayout* rowStack = makeStack(rows, 0);
    bool first = true;
    for (const ProviderViewState& state : states_) {
        if (!first) rowStack->addWidget(makeDivider(rows));
        first = false;
        rowStack->addWidget(makeSettingsRow(state, rows));
    }
    stack->addWidget(rows);
    return document;
}

QWidget* QuotaPopoverViewController::makeSettingsRow(const ProviderViewState& state,
                                                     QWidget* parent) {
    auto* row = makeTransparent(parent);
    row->setFixedSize(documentWidth, 44);
    row->setObjectName(QStringLiteral("settingsRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(9);
    layout->addWidget(new ProviderMarkView(state.provider, 22, QuotaTheme::text(), row));
    layout->addWidget(
        makeLabel(displayName(state.provider), 12, QFont::Normal, QuotaTheme::text(), row));
    layout->addStretch();
    auto* toggle = new ProviderSwitch(state.provider, row);
    toggle->setChecked(state.isEnabled);
    connect(
        toggle, &QAbstractButton::clicked, this,
        [this, provider = state.provider](bool checked) { providerToggled(provider, checked); });
    layout->addWidget(toggle);
    return row;
}

}  // namespace kestrane::ui
