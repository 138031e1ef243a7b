#include "ui/OverviewScreen.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "forecast/ForecastBacktest.h"
#include "forecast/ForecastInsight.h"
#include "history/RecentUsageInsight.h"
#include "model/DateFormatting.h"
#include "ui/PanelButton.h"
#include "ui/PanelSurface.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"
#include "ui/ProviderMarkView.h"
#include "ui/SegmentedControl.h"
#include "ui/UsageBarView.h"
#include "ui/WindowButton.h"
#include "ui/WindowChooser.h"

namespace kestrane::ui {

namespace {

using Kit = PanelWidgetKit;
using model::ProviderKind;

bool resetHasPassed(const model::LimitWindow& window, platform::Date now) {
    return window.resetsAt && *window.resetsAt <= now;
}

double remainingOf(const model::LimitWindow& window) {
    const double remaining = 100 - window.usedPercent;
    return std::isnan(remaining) ? 0 : std::clamp(remaining, 0.0, 100.0);
}

}  // namespace

QWidget* OverviewScreen::make() const {
    auto* document = Kit::makeTransparent(&context_.owner);
    document->setObjectName(QStringLiteral("overview"));
    QVBoxLayout* stack = Kit::makeStack(document, 12);

    const ProviderViewState* selected = state_.selected;
    if (!selected) {
        PanelSurface* card = Kit::makeMessageCard(
            QStringLiteral("Подключите первый сервис"),
            QStringLiteral("Выберите провайдеров в настройках. Лимиты появятся здесь после входа "
                           "в их приложения."),
            document);
        auto* choose = new PanelButton(QStringLiteral("Выбрать провайдеров"), QString(),
                                       PanelTheme::text(), card);
        choose->setBezel(PanelButton::Bezel::rounded);
        choose->setObjectName(QStringLiteral("chooseProviders"));
        QObject::connect(choose, &QAbstractButton::clicked, &context_.actions,
                         &PanelActions::toggleMode);
        QVBoxLayout* cardStack = Kit::messageStack(card);
        cardStack->addSpacing(4);
        cardStack->addWidget(choose, 0, Qt::AlignLeft);
        stack->addWidget(card);
        return document;
    }

    QStringList labels;
    int selectedSegment = 0;
    for (const ProviderViewState& state : state_.states) {
        if (!state.isEnabled) continue;
        if (&state == selected) selectedSegment = static_cast<int>(labels.size());
        labels << Kit::switchLabel(state.provider);
    }
    if (labels.size() >= 2) {
        if (QLabel* advice = makeRecommendation(document)) stack->addWidget(advice);
        auto* providers = new SegmentedControl(labels, Kit::documentWidth, document);
        QObject::connect(providers, &SegmentedControl::segmentChosen, &context_.actions,
                         &PanelActions::providerSelected);
        providers->setSelectedSegment(selectedSegment);
        providers->setObjectName(QStringLiteral("providerSwitch"));
        providers->setAccessibleName(QStringLiteral("Провайдер"));
        stack->addWidget(providers);
    }
    stack->addWidget(makeProviderCard(*selected, document));
    if (state_.historyError) {
        // The history could not be saved or read: the chart and forecast may lag behind.
        QLabel* warning =
            Kit::makeWrappingLabel(Kit::toQString(*state_.historyError), 10, QFont::Normal,
                                   PanelTheme::warning(), Kit::documentWidth, document);
        warning->setObjectName(QStringLiteral("history-error"));
        stack->addWidget(warning);
    }
    return document;
}

QLabel* OverviewScreen::makeRecommendation(QWidget* parent) const {
    if (!state_.outlooks) return nullptr;
    const auto& recommendation = state_.outlooks->recommendation;
    if (!recommendation) return nullptr;
    QLabel* line = Kit::makeWrappingLabel(Kit::toQString(recommendation->text), 11, QFont::Normal,
                                          PanelTheme::text(), Kit::documentWidth, parent);
    line->setObjectName(QStringLiteral("service-recommendation"));
    return line;
}

QWidget* OverviewScreen::makeProviderCard(const ProviderViewState& state, QWidget* parent) const {
    auto* holder = Kit::makeTransparent(parent);
    QVBoxLayout* stack = Kit::makeStack(holder, 0);
    if (state.usage) {
        stack->addWidget(makeUsageCard(state, holder));
    } else {
        const QString message =
            state.error ? Kit::toQString(*state.error) : QStringLiteral("Получаю данные...");
        stack->addWidget(Kit::makeMessageCard(
            [&](QWidget* card) { return makeProviderHeader(state, card); }, message, holder));
    }
    return holder;
}

QWidget* OverviewScreen::makeProviderHeader(const ProviderViewState& state, QWidget* parent) const {
    auto* header = Kit::makeTransparent(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    row->addWidget(new ProviderMarkView(state.provider, 20, PanelTheme::text(), header));
    QLabel* name = Kit::makeLabel(Kit::displayName(state.provider), 15, QFont::Normal,
                                  PanelTheme::text(), header);
    name->setObjectName(QStringLiteral("providerName"));
    row->addWidget(name);
    if (state.usage && state.usage->plan && !state.usage->plan->empty()) {
        const QString plan = Kit::toQString(*state.usage->plan);
        QLabel* label = Kit::makeElidedLabel(plan, 10, QFont::Normal, PanelTheme::muted(), 90,
                                             Qt::ElideRight, header);
        label->setObjectName(QStringLiteral("plan"));
        row->addWidget(label);
    }
    header->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return header;
}

QWidget* OverviewScreen::makeUsageCard(const ProviderViewState& state, QWidget* parent) const {
    auto* card = Kit::makeTransparent(parent);
    card->setObjectName(QStringLiteral("usageCard"));
    card->setFixedWidth(Kit::documentWidth);
    QVBoxLayout* stack = Kit::makeStack(card, 12);
    const model::ProviderUsage& usage = *state.usage;
    if (usage.windows.empty()) {
        stack->addWidget(makeProviderHeader(state, card));
        QLabel* none = Kit::makeLabel(QStringLiteral("Активные лимиты не найдены"), 12,
                                      QFont::Normal, PanelTheme::muted(), card);
        none->setObjectName(QStringLiteral("noWindows"));
        stack->addWidget(none);
        return card;
    }

    const model::LimitWindow& window = usage.windows.at(state_.selectedWindow);
    const app::BoardProvider* outlook =
        state_.outlooks ? state_.outlooks->find(state.provider) : nullptr;
    const app::BoardWindow* read =
        outlook ? outlook->window(state_.selectedWindow, window.id) : nullptr;
    // A window the board has not read (nothing yet) shows its own figures without history.
    const history::UsageAnalytics unread =
        read ? history::UsageAnalytics{}
             : history::UsageAnalytics::make(std::nullopt, window, context_.now,
                                             state.error.has_value());
    const history::UsageAnalytics& analytics = read ? read->outlook.analytics : unread;

    stack->addWidget(makeTopRow(state, card));
    addFigure(stack, card, window, analytics);
    // Beside the reset: how fast the window goes against an even spread over its length.
    if (read && read->pace && !state.error) {
        QLabel* pace = Kit::makeWrappingLabel(Kit::toQString(read->pace->text()), 11, QFont::Normal,
                                              PanelTheme::muted(), Kit::textWidth, card);
        pace->setObjectName(QStringLiteral("paceLine"));
        const QString help = QStringLiteral(
            "Сравнение израсходованной доли лимита с долей прошедшего периода. Разница до "
            "2\u00a0п.п. считается равномерным темпом.");
        pace->setToolTip(help);
        pace->setAccessibleDescription(help);
        stack->addWidget(pace);
    }
    if (QWidget* forecast = makeForecast(read, card)) {
        stack->addWidget(forecast);
        stack->addWidget(Kit::makeDivider(card));
    }
    addChart(stack, card, analytics);
    if (const auto insight = history::RecentUsageInsight::make(analytics)) {
        stack->addWidget(Kit::makeDivider(card));
        QLabel* summary =
            Kit::makeWrappingLabel(Kit::keepUnitsWithNumbers(Kit::toQString(insight->text)), 11,
                                   QFont::Normal, PanelTheme::text(), Kit::documentWidth, card);
        summary->setObjectName(QStringLiteral("recent-usage-summary"));
        stack->addWidget(summary);
    }
    addOtherWindows(stack, card, state);
    addDetails(stack, card, usage);

    if (state.error) {
        QLabel* stale = Kit::makeWrappingLabel(
            QStringLiteral("Данные не обновились. ") + Kit::toQString(*state.error), 11,
            QFont::Normal, PanelTheme::warning(), Kit::textWidth, card);
        stale->setObjectName(QStringLiteral("staleWarning"));
        stack->addWidget(stale);
    }
    return card;
}

QWidget* OverviewScreen::makeTopRow(const ProviderViewState& state, QWidget* parent) const {
    const auto& windows = state.usage->windows;
    const model::LimitWindow& window = windows.at(state_.selectedWindow);
    auto* top = Kit::makeTransparent(parent);
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->setSpacing(8);
    topRow->addWidget(makeProviderHeader(state, top));
    topRow->addStretch();
    const QString selectedTitle = periodTitle(state.provider, window);
    if (windows.size() == 1) {
        QLabel* label = Kit::makeElidedLabel(selectedTitle, 11, QFont::Normal, PanelTheme::muted(),
                                             210, Qt::ElideRight, top);
        label->setObjectName(QStringLiteral("windowTitle"));
        topRow->addWidget(label);
    } else {
        auto* chooser = new WindowChooser(top);
        chooser->setObjectName(QStringLiteral("windowChooser"));
        chooser->setAccessibleName(QStringLiteral("Период лимита"));
        chooser->setFont(Kit::panelFont(context_.owner, 11, QFont::Normal));
        chooser->setMaximumWidth(180);
        chooser->setCursor(Qt::PointingHandCursor);
        for (const model::LimitWindow& each : windows) {
            chooser->addItem(periodTitle(state.provider, each));
        }
        chooser->setCurrentIndex(static_cast<int>(state_.selectedWindow));
        QObject::connect(chooser, &QComboBox::activated, &context_.actions,
                         &PanelActions::windowSelected);
        topRow->addWidget(chooser);
    }
    top->setFixedWidth(Kit::documentWidth);
    return top;
}

void OverviewScreen::addFigure(QVBoxLayout* stack, QWidget* card, const model::LimitWindow& window,
                               const history::UsageAnalytics& analytics) const {
    const platform::Date now = context_.now;
    const bool resetPassed = resetHasPassed(window, now);
    // The big figure and its caption, on one baseline.
    auto* figureRow = Kit::makeTransparent(card);
    auto* figures = new QHBoxLayout(figureRow);
    figures->setContentsMargins(0, 0, 0, 0);
    figures->setSpacing(8);
    const double remaining = analytics.remainingPercent;
    QLabel* figure = Kit::makeLabel(
        resetPassed ? QStringLiteral("--")
                    : QString::number(model::roundedPercent(remaining)) + QStringLiteral("%"),
        56, QFont::Medium, PanelTheme::text(), figureRow);
    figure->setObjectName(QStringLiteral("figure"));
    QLabel* caption =
        Kit::makeLabel(resetPassed ? QStringLiteral("ожидаем сброс") : QStringLiteral("осталось"),
                       13, QFont::Normal, PanelTheme::muted(), figureRow);
    caption->setObjectName(QStringLiteral("figureCaption"));
    caption->setContentsMargins(
        0, 0, 0, std::max(0, figure->fontMetrics().descent() - caption->fontMetrics().descent()));
    figures->addWidget(figure, 0, Qt::AlignBottom);
    figures->addWidget(caption, 0, Qt::AlignBottom);
    figures->addStretch();
    stack->addWidget(figureRow);
    stack->addSpacing(5);

    auto* bar = new UsageBarView(resetPassed ? 0 : remaining, card);
    bar->setFixedSize(Kit::documentWidth, 10);
    bar->setObjectName(QStringLiteral("usageBar"));
    stack->addWidget(bar);

    QString resetText;
    if (!window.resetsAt) {
        resetText = QStringLiteral("Время сброса не указано сервисом");
    } else if (analytics.resetsAt && *analytics.resetsAt <= analytics.now) {
        resetText = QStringLiteral("Период завершен. Ждем обновление.");
    } else {
        resetText =
            QStringLiteral("Сброс ") +
            Kit::toQString(model::DateFormatting::relativeReset(*window.resetsAt, now)) +
            QStringLiteral(" · ") +
            Kit::toQString(model::DateFormatting::reset(*window.resetsAt, context_.calendar));
    }
    QLabel* resetLine =
        Kit::makeWrappingLabel(Kit::keepUnitsWithNumbers(resetText), 11, QFont::Normal,
                               PanelTheme::muted(), Kit::textWidth, card);
    resetLine->setObjectName(QStringLiteral("resetLine"));
    stack->addWidget(resetLine);
}

QWidget* OverviewScreen::makeForecast(const app::BoardWindow* read, QWidget* parent) const {
    if (!read || !read->outlook.forecast || !read->insight) return nullptr;
    const forecast::QuotaForecast* forecast = &*read->outlook.forecast;
    const forecast::ForecastInsight& insight = *read->insight;

    auto* block = Kit::makeTransparent(parent);
    block->setObjectName(QStringLiteral("usage-forecast"));
    block->setFixedWidth(Kit::documentWidth);
    QVBoxLayout* stack = Kit::makeStack(block, 4);
    const auto addLine = [&](const std::string& text, int pixelSize, const NamedColor& color,
                             const char* name) {
        QLabel* line =
            Kit::makeWrappingLabel(Kit::keepUnitsWithNumbers(Kit::toQString(text)), pixelSize,
                                   QFont::Normal, color, Kit::textWidth, block);
        line->setObjectName(QString::fromLatin1(name));
        stack->addWidget(line);
    };
    addLine(insight.title, 13, PanelTheme::text(), "forecastTitle");
    stack->addSpacing(2);  // 6 after the title in all
    addLine(insight.outcome, 11, PanelTheme::text(), "forecastOutcome");
    addLine(insight.guidance, 11, PanelTheme::muted(), "forecastGuidance");
    const QString days = QString::number(forecast->historyDays);
    const QString footnote =
        insight.range ? Kit::toQString(*insight.range) + QStringLiteral(" · ") + days +
                            QStringLiteral(" дн. истории")
                      : days + QStringLiteral(" дн. истории · ") +
                            (forecast->usesWeekdayPattern ? QStringLiteral("учтены дни недели")
                                                          : QStringLiteral("часы работы и паузы"));
    QLabel* note = Kit::makeWrappingLabel(Kit::keepUnitsWithNumbers(footnote), 9, QFont::Normal,
                                          PanelTheme::muted(), Kit::textWidth, block);
    note->setObjectName(QStringLiteral("forecastFootnote"));
    const QString help = QStringLiteral(
        "Прогноз основан на вашей локальной истории. Распорядок дополняется завершенными днями; "
        "остаток и ближайший темп учитываются при обновлении. Диапазон описывает разные "
        "наблюдавшиеся дни и не гарантирует результат при смене нагрузки.");
    note->setToolTip(help);
    note->setAccessibleDescription(help);
    stack->addWidget(note);
    if (read->trackRecord) addTrackRecord(stack, block, *read->trackRecord);
    return block;
}

void OverviewScreen::addTrackRecord(QVBoxLayout* stack, QWidget* parent,
                                    const forecast::BacktestResult& result) const {
    QLabel* line =
        Kit::makeWrappingLabel(Kit::toQString(forecast::ForecastBacktest::describe(result)), 9,
                               QFont::Normal, PanelTheme::muted(), Kit::textWidth, parent);
    line->setObjectName(QStringLiteral("forecastTrackRecord"));
    QString help = QStringLiteral(
        "Прогноз проверен на прошлых циклах этого лимита: на четверти, половине и трех "
        "четвертях каждого цикла он сделан заново только по тому, что было известно тогда, "
        "и сравнен с остатком к сбросу. Ошибка - медиана расхождения ожидаемого остатка с "
        "фактическим.");
    if (result.record) {
        help += QStringLiteral(" Вывод о том, хватит ли лимита, был верен в ") +
                QString::number(std::llround(result.record->verdictHitShare * 100)) +
                QStringLiteral("% случаев.");
    } else if (!result.longerThanHistory) {
        help += QStringLiteral(" Оценка появится после ") +
                QString::number(forecast::ForecastBacktest::minimumCycles) +
                QStringLiteral("\u00a0завершенных циклов.");
    }
    line->setToolTip(help);
    line->setAccessibleDescription(help);
    stack->addWidget(line);
}

void OverviewScreen::addChart(QVBoxLayout* stack, QWidget* card,
                              const history::UsageAnalytics& analytics) const {
    auto* styleRow = Kit::makeTransparent(card);
    styleRow->setFixedWidth(Kit::documentWidth);
    auto* styleLayout = new QHBoxLayout(styleRow);
    styleLayout->setContentsMargins(0, 0, 0, 0);
    auto* styleControl =
        new SegmentedControl({QStringLiteral("Остаток"), QStringLiteral("Темп")}, 144, styleRow);
    QObject::connect(styleControl, &SegmentedControl::segmentChosen, &context_.actions,
                     &PanelActions::chartStyleSelected);
    styleControl->setSelectedSegment(state_.chartStyle == UsageChartView::Style::burn ? 1 : 0);
    styleControl->setAccessibleName(QStringLiteral("Вид графика"));
    styleControl->setObjectName(QStringLiteral("chartStyle"));
    styleLayout->addWidget(styleControl);
    styleLayout->addStretch();
    stack->addWidget(styleRow);

    auto* chart = new UsageChartView(analytics, state_.chartStyle, context_.calendar, card);
    chart->setObjectName(QStringLiteral("usageChart"));
    chart->setFixedSize(Kit::documentWidth, 164);
    stack->addWidget(chart);
}

void OverviewScreen::addOtherWindows(QVBoxLayout* stack, QWidget* card,
                                     const ProviderViewState& state) const {
    const auto& windows = state.usage->windows;
    if (windows.size() < 2) return;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (i == state_.selectedWindow) continue;
        const model::LimitWindow& other = windows[i];
        const QString value =
            resetHasPassed(other, context_.now)
                ? QStringLiteral("Сброс")
                : QString::number(model::roundedPercent(remainingOf(other))) + QStringLiteral("%");
        auto* button =
            new WindowButton(static_cast<int>(i), periodTitle(state.provider, other), value, card);
        QObject::connect(button, &QAbstractButton::clicked, &context_.actions,
                         [&actions = context_.actions, index = static_cast<int>(i)] {
                             emit actions.otherWindowSelected(index);
                         });
        stack->addWidget(button);
    }
}

void OverviewScreen::addDetails(QVBoxLayout* stack, QWidget* card,
                                const model::ProviderUsage& usage) const {
    const bool hasDetails = !usage.recentModels.empty() || usage.spendUsed ||
                            (usage.spendLimit && *usage.spendLimit > 0);
    if (!hasDetails) return;
    const bool shown = state_.showsAccountDetails;
    auto* toggle = new PanelButton(
        shown ? QStringLiteral("Скрыть детали аккаунта") : QStringLiteral("Детали аккаунта"),
        shown ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"), PanelTheme::muted(),
        card);
    toggle->setFontPixelSize(10);
    toggle->setSymbolSize(9);
    toggle->setObjectName(QStringLiteral("accountDetailsToggle"));
    QObject::connect(toggle, &QAbstractButton::clicked, &context_.actions,
                     &PanelActions::toggleAccountDetails);
    stack->addWidget(toggle);
    if (!shown) return;

    const auto addDetail = [&](const QString& text, const QString& name) {
        QLabel* line = Kit::makeWrappingLabel(text, 10, QFont::Normal, PanelTheme::muted(),
                                              Kit::textWidth, card);
        line->setObjectName(name);
        stack->addWidget(line);
        return line;
    };
    if (!usage.recentModels.empty()) {
        QStringList models;
        for (std::size_t i = 0; i < usage.recentModels.size() && i < 3; ++i) {
            models << Kit::toQString(usage.recentModels[i].model);
        }
        QLabel* line = addDetail(QStringLiteral("Модели в недавних сессиях: ") + models.join(u", "),
                                 QStringLiteral("recentModels"));
        line->setToolTip(QStringLiteral(
            "Выборка из последних 64 локальных сессий за 24 часа. Это выбранные модели, а не "
            "доли расхода; фактическая модель отдельного запроса может отличаться."));
    }
    const QString currency = usage.currency ? Kit::toQString(*usage.currency) : QString();
    if (usage.spendUsed) {
        const QString limit =
            usage.spendLimit ? Kit::formatted("%.2f", *usage.spendLimit) : QStringLiteral("-");
        addDetail(QStringLiteral("Расходы: ") + Kit::formatted("%.2f", *usage.spendUsed) +
                      QStringLiteral(" из ") + limit + QLatin1Char(' ') + currency,
                  QStringLiteral("spending"));
    } else if (usage.spendLimit && *usage.spendLimit > 0) {
        addDetail(QStringLiteral("Баланс: ") + Kit::formatted("%.2f", *usage.spendLimit) +
                      QLatin1Char(' ') + currency,
                  QStringLiteral("spending"));
    }
}

QString OverviewScreen::periodTitle(ProviderKind provider, const model::LimitWindow& window) {
    const QString title = Kit::keepUnitsWithNumbers(Kit::toQString(window.periodTitle()));
    const QString name = Kit::displayName(provider);
    if (Kit::toQString(window.name) == name && title.startsWith(name + QStringLiteral(" - "))) {
        return title.mid(name.size() + 3);
    }
    return title;
}

}  // namespace kestrane::ui
