#include "ui/PanelContent.h"

#include <QAccessible>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QTextDocument>

#include <stdexcept>

#include <gtest/gtest.h>

#include "app/desktop/PanelSettingsBinding.h"
#include "app/settings/ProviderPreferences.h"
#include "support/FixedClock.h"
#include "ui/LocalServiceStopButton.h"
#include "ui/LocalServicesScreen.h"
#include "ui/OverviewScreen.h"
#include "ui/PanelButton.h"
#include "ui/PanelFixtures.h"
#include "ui/PanelSwitch.h"
#include "ui/PanelTheme.h"
#include "ui/ProviderSwitch.h"
#include "ui/SegmentedControl.h"
#include "ui/StopConfirmation.h"
#include "ui/UsageBarView.h"
#include "ui/WindowButton.h"
#include "ui/WindowChooser.h"

namespace kestrane::ui {
namespace {

using model::LimitWindow;
using model::ProviderKind;
using testing::panel::kHour;
using testing::panel::kMorning;
using testing::panel::PanelProvider;

// Wrapped labels carry invisible break opportunities; what a person reads is without them.
QString shown(const QLabel* label) {
    QString text = label->text();
    text.remove(QChar(0x200B));
    return text;
}

PanelProvider usageState(ProviderKind kind, std::vector<LimitWindow> windows, bool enabled = true) {
    model::ProviderUsage usage;
    usage.provider = kind;
    usage.windows = std::move(windows);
    usage.updatedAt = kMorning - 120;
    return {{kind, enabled, usage, std::nullopt}, {}, {}};
}

PanelProvider emptyState(ProviderKind kind, bool enabled) {
    return {{kind, enabled, std::nullopt, std::nullopt}, {}, {}};
}

class PanelContentTest : public ::testing::Test {
  protected:
    PanelContent& controller() {
        if (!controller_) {
            controller_ = std::make_unique<PanelContent>(clock_, moscow_);
            controller_->setVisibleFrameHeight(900);
            // The panel tells its choices; the application stores them and hands them back.
            new app::PanelSettingsBinding(*controller_, settingsStore_, startAtLogin_);
        }
        return *controller_;
    }

    PanelContent& show(const std::vector<PanelProvider>& states) {
        testing::panel::showProviders(controller(), states, moscow_, clock_.now());
        controller().render();
        return controller();
    }

    QWidget* document() { return controller().scrollView()->widget(); }

    template <typename T = QWidget>
    T* find(const QString& name) {
        return document()->findChild<T*>(name);
    }

    QString text(const QString& name) {
        const auto* label = find<QLabel>(name);
        return label ? shown(label) : QStringLiteral("<none>");
    }

    QStringList texts() {
        QStringList result;
        for (const QLabel* label : document()->findChildren<QLabel*>()) result << shown(label);
        return result;
    }

    platform::MemorySettingsStore settingsStore_;
    // Starting at login, when a test gives one before the panel is made.
    const app::StartAtLogin* startAtLogin_ = nullptr;
    testing::FixedClock clock_{kMorning};
    platform::Calendar moscow_{"Europe/Moscow"};
    std::unique_ptr<PanelContent> controller_;
};

TEST_F(PanelContentTest, ProviderSwitchOnlyWithSeveralEnabledProviders) {
    const LimitWindow window{.id = "w", .usedPercent = 10};
    show({usageState(ProviderKind::codex, {window}), emptyState(ProviderKind::cursor, false)});
    EXPECT_EQ(find("providerSwitch"), nullptr);
    EXPECT_EQ(text("providerName"), "Codex");

    show({usageState(ProviderKind::codex, {window}), emptyState(ProviderKind::cursor, true),
          usageState(ProviderKind::claude, {window})});
    auto* providers = find<SegmentedControl>("providerSwitch");
    ASSERT_NE(providers, nullptr);
    EXPECT_EQ(providers->segmentCount(), 3);
    EXPECT_EQ(providers->selectedSegment(), 0);

    // Choosing a segment shows that provider and remembers it.
    controller().providerSelected(1);
    EXPECT_EQ(controller().selectedProvider(), ProviderKind::cursor);
    EXPECT_EQ(settingsStore_.value(app::ProviderPreferences::selectedProviderKey), "Cursor");
    EXPECT_EQ(find<SegmentedControl>("providerSwitch")->selectedSegment(), 1);
    // Cursor has no usage and no error yet.
    EXPECT_EQ(text("message"), "Получаю данные...");
    EXPECT_EQ(text("providerName"), "Cursor");
}

TEST_F(PanelContentTest, SevenProvidersAreNamedInFullInTheSwitch) {
    const LimitWindow window{.id = "w", .usedPercent = 10};
    std::vector<PanelProvider> states;
    // The first seven; ten at once do not fit in full yet.
    for (std::size_t i = 0; i < 7; ++i)
        states.push_back(usageState(model::allProviderKinds[i], {window}));
    show(states);
    auto* providers = find<SegmentedControl>("providerSwitch");
    ASSERT_NE(providers, nullptr);
    ASSERT_EQ(providers->segmentCount(), 7);
    qreal right = providers->segmentRect(0).left();
    for (int i = 0; i < providers->segmentCount(); ++i) {
        SCOPED_TRACE(providers->label(i).toStdString());
        EXPECT_EQ(providers->displayedLabel(i), providers->label(i));
        // Side by side, inside the control, each one still clickable where it is drawn.
        const QRectF segment = providers->segmentRect(i);
        EXPECT_NEAR(segment.left(), right, 0.01);
        right = segment.right();
        controller().providerSelected(i);
        EXPECT_EQ(find<SegmentedControl>("providerSwitch")->selectedSegment(), i);
    }
    EXPECT_LE(right, providers->width() - 1.99);
    EXPECT_EQ(providers->label(5), "Copilot");
    EXPECT_EQ(providers->label(6), "Gemini");
    EXPECT_EQ(text("providerName"), "Gemini CLI");
}

TEST_F(PanelContentTest, DisabledStoredSelectionShowsFirstEnabledAndKeepsTheStore) {
    settingsStore_.setValue(app::ProviderPreferences::selectedProviderKey, "Kimi");
    const LimitWindow window{.id = "w", .usedPercent = 10};
    show({usageState(ProviderKind::codex, {window}, false),
          usageState(ProviderKind::claude, {window}), emptyState(ProviderKind::kimi, false),
          usageState(ProviderKind::antigravity, {window})});
    EXPECT_EQ(controller().selectedProvider(), ProviderKind::kimi);
    EXPECT_EQ(text("providerName"), "Claude");
    EXPECT_EQ(find<SegmentedControl>("providerSwitch")->selectedSegment(), 0);
    EXPECT_EQ(settingsStore_.value(app::ProviderPreferences::selectedProviderKey), "Kimi");
}

TEST_F(PanelContentTest, FigureCaptionAndBarFollowTheWindow) {
    struct Case {
        const char* name;
        double used;
        std::optional<double> resetIn;
        const char* figure;
        const char* caption;
        double bar;
    };
    const Case cases[] = {
        {"over the limit", 100.4, 3 * kHour, "0%", "осталось", 0},
        {"below zero", -3, 3 * kHour, "100%", "осталось", 100},
        {"a half rounds away from zero", 62.5, std::nullopt, "38%", "осталось", 37.5},
        {"reset passed", 20, -60, "--", "ожидаем сброс", 0},
        {"reset right now", 20, 0, "--", "ожидаем сброс", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<platform::Date> reset;
        if (c.resetIn) reset = kMorning + *c.resetIn;
        show({usageState(
            ProviderKind::codex,
            {{.id = "w", .usedPercent = c.used, .durationMinutes = 300, .resetsAt = reset}})});
        EXPECT_EQ(text("figure"), QString::fromUtf8(c.figure));
        EXPECT_EQ(text("figureCaption"), QString::fromUtf8(c.caption));
        ASSERT_NE(find<UsageBarView>("usageBar"), nullptr);
        EXPECT_DOUBLE_EQ(find<UsageBarView>("usageBar")->remainingPercent(), c.bar);
    }
}

// The chooser is as wide as its title needs, so the title is never cut at the panel's width.
TEST_F(PanelContentTest, ChooserShowsWholeWindowTitles) {
    show({usageState(ProviderKind::claude,
                     {{.id = "claude-session", .usedPercent = 30, .durationMinutes = 300},
                      {.id = "claude-week",
                       .name = "Все модели",
                       .usedPercent = 70,
                       .durationMinutes = 10080}})});
    controller().resize(controller().preferredContentSize());
    controller().show();
    QApplication::processEvents();
    auto* chooser = find<WindowChooser>("windowChooser");
    ASSERT_TRUE(chooser);
    for (int index : {1, 0}) {
        controller().windowSelected(index);
        chooser = find<WindowChooser>("windowChooser");
        ASSERT_TRUE(chooser);
        QApplication::processEvents();
        SCOPED_TRACE(chooser->currentText().toStdString());
        EXPECT_EQ(chooser->shownTitle(), chooser->currentText());
        // Inside its card.
        const QWidget* card = chooser->parentWidget()->parentWidget();
        EXPECT_TRUE(card->rect().contains(QRect(chooser->mapTo(card, QPoint()), chooser->size())))
            << chooser->mapTo(card, QPoint()).x() << "+" << chooser->width() << " in "
            << card->width();
    }
    EXPECT_EQ(find<WindowChooser>("windowChooser")->itemText(1), "Все модели - Недельный");
}

TEST_F(PanelContentTest, ResetLinesAndOtherWindows) {
    show({usageState(ProviderKind::codex,
                     {{.id = "codex-session",
                       .usedPercent = 30,
                       .durationMinutes = 300,
                       .resetsAt = kMorning + 2 * kHour + 5 * 60},
                      {.id = "codex-week",
                       .usedPercent = 70,
                       .durationMinutes = 10080,
                       .resetsAt = kMorning - 1},
                      {.id = "codex-extra", .name = "Доп.", .usedPercent = 62.5}})})
        .setIsRefreshing(false);
    // 2025-03-10 12:35 in Moscow.
    EXPECT_EQ(text("resetLine"), "Сброс через 2\u00A0ч. 5\u00A0мин. · 10\u00A0мар., 12:35");
    const auto buttons = document()->findChildren<WindowButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->windowTitle(), "Недельный");
    EXPECT_EQ(buttons[0]->value(), "Сброс");
    EXPECT_EQ(buttons[0]->accessibleName(), "Недельный, осталось Сброс");
    EXPECT_EQ(buttons[0]->toolTip(), "Показать историю: Недельный");
    EXPECT_EQ(buttons[1]->value(), "38%");

    // The passed window's own card.
    buttons[0]->click();
    EXPECT_EQ(controller().selectedWindowIDs().at(ProviderKind::codex), "codex-week");
    EXPECT_EQ(text("figure"), "--");
    EXPECT_EQ(text("resetLine"), "Период завершен. Ждем обновление.");
    EXPECT_EQ(find<QComboBox>("windowChooser")->currentIndex(), 1);
    EXPECT_EQ(find<QComboBox>("windowChooser")->currentText(), "Недельный");

    // Without a reset time; chosen through the pop-up this time.
    controller().windowSelected(2);
    EXPECT_EQ(text("resetLine"), "Время сброса не указано сервисом");
    // A choice outside the list changes nothing.
    controller().windowSelected(7);
    EXPECT_EQ(controller().selectedWindowIDs().at(ProviderKind::codex), "codex-extra");

    // A remembered window that disappeared falls back to the first one.
    show({usageState(ProviderKind::codex, {{.id = "codex-session", .usedPercent = 30}})});
    EXPECT_EQ(controller().selectedWindowIDs().at(ProviderKind::codex), "codex-session");
    EXPECT_EQ(find<QComboBox>("windowChooser"), nullptr);
    EXPECT_TRUE(document()->findChildren<WindowButton*>().isEmpty());
}

TEST_F(PanelContentTest, PeriodTitlesDropTheProviderNameOnlyWhenNamedAfterIt) {
    struct Case {
        ProviderKind provider;
        LimitWindow window;
        const char* expected;
    };
    const Case cases[] = {
        {ProviderKind::kimi, {.name = "Kimi", .durationMinutes = 10080}, "Недельный"},
        {ProviderKind::kimi, {.name = "Сессия", .durationMinutes = 300}, "Сессия - 5\u00A0часов"},
        {ProviderKind::kimi, {.name = "Kimi"}, "Kimi"},
        {ProviderKind::codex, {.name = "Kimi", .durationMinutes = 300}, "Kimi - 5\u00A0часов"},
        {ProviderKind::antigravity,
         {.name = "Antigravity", .durationMinutes = 300},
         "5\u00A0часов"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(OverviewScreen::periodTitle(c.provider, c.window), QString::fromUtf8(c.expected));
    }
}

TEST_F(PanelContentTest, AccountDetailsShowModelsSpendingAndBalance) {
    auto state = usageState(ProviderKind::cursor, {{.id = "cursor-total", .usedPercent = 5}});
    state.usage->spendUsed = 12.5;
    state.usage->currency = "USD";
    show({state});
    auto* toggle = find<PanelButton>("accountDetailsToggle");
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), "Детали аккаунта");
    EXPECT_EQ(toggle->symbol(), "chevron.down");
    EXPECT_EQ(find("spending"), nullptr);

    toggle->click();
    EXPECT_TRUE(controller().showsAccountDetails());
    EXPECT_EQ(text("spending"), "Расходы: 12.50 из - USD");
    EXPECT_EQ(find<PanelButton>("accountDetailsToggle")->text(), "Скрыть детали аккаунта");
    EXPECT_EQ(find<PanelButton>("accountDetailsToggle")->symbol(), "chevron.up");

    state.usage->spendUsed.reset();
    state.usage->spendLimit = 40;
    state.usage->recentModels = {
        {"m1", 1, kMorning}, {"m2", 1, kMorning}, {"m3", 1, kMorning}, {"m4", 1, kMorning}};
    show({state});
    EXPECT_EQ(text("spending"), "Баланс: 40.00 USD");
    EXPECT_EQ(text("recentModels"), "Модели в недавних сессиях: m1, m2, m3");
    EXPECT_TRUE(find("recentModels")->toolTip().startsWith("Выборка из последних 64"));

    // Nothing to detail: no toggle at all.
    state.usage->spendLimit = 0;
    state.usage->recentModels.clear();
    show({state});
    EXPECT_EQ(find("accountDetailsToggle"), nullptr);
}

TEST_F(PanelContentTest, OutsideTextShowsAsWrittenNeverAsMarkup) {
    // Names, plans and messages come from servers and tools; markup in them stays text.
    const QString markup = QStringLiteral("<b>Pro</b> <img src=\"x.png\">");
    auto state = usageState(ProviderKind::codex,
                            {{.id = "w", .name = markup.toStdString(), .usedPercent = 10}});
    state.usage->plan = markup.toStdString();
    state.error = markup.toStdString();
    show({state});
    // What a tool tip shows once the toolkit has read it.
    const auto toolTipText = [](const QString& toolTip) {
        if (!Qt::mightBeRichText(toolTip)) return toolTip;
        QTextDocument document;
        document.setHtml(toolTip);
        return document.toPlainText();
    };
    const QList<QLabel*> labels = document()->findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    for (const QLabel* label : labels) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(toolTipText(find("plan")->toolTip()), markup);
    EXPECT_EQ(toolTipText(find("windowTitle")->toolTip()), markup);
    EXPECT_TRUE(text("staleWarning").endsWith(markup));

    // Another window: the row to switch to it names this one.
    state.usage->windows.push_back({.id = "v", .usedPercent = 20});
    show({state});
    const auto buttons = document()->findChildren<WindowButton*>();
    ASSERT_EQ(buttons.size(), 1);
    controller().windowSelected(1);
    EXPECT_EQ(toolTipText(document()->findChildren<WindowButton*>().at(0)->toolTip()),
              QStringLiteral("Показать историю: ") + markup);
}

TEST_F(PanelContentTest, ErrorsAndEmptyStates) {
    auto failed = emptyState(ProviderKind::claude, true);
    failed.error = "Превышен лимит времени на запрос.";
    show({failed});
    EXPECT_EQ(text("message"), "Превышен лимит времени на запрос.");
    EXPECT_EQ(text("providerName"), "Claude");

    // Old figures stay, with the warning.
    auto stale = usageState(ProviderKind::claude, {{.id = "w", .usedPercent = 40}});
    stale.error = "Не удалось подключиться к серверу.";
    show({stale});
    EXPECT_EQ(text("figure"), "60%");
    EXPECT_EQ(text("staleWarning"), "Данные не обновились. Не удалось подключиться к серверу.");

    show({usageState(ProviderKind::claude, {})});
    EXPECT_EQ(text("noWindows"), "Активные лимиты не найдены");

    show({emptyState(ProviderKind::codex, false), emptyState(ProviderKind::claude, false)});
    EXPECT_EQ(text("messageTitle"), "Подключите первый сервис");
    EXPECT_EQ(text("message"),
              "Выберите провайдеров в настройках. Лимиты появятся здесь после входа в их "
              "приложения.");
    find<PanelButton>("chooseProviders")->click();
    EXPECT_EQ(controller().mode(), PanelContent::Mode::settings);
}

TEST_F(PanelContentTest, HeaderFollowsTheScreen) {
    auto& c = controller();
    const auto* refresh = c.findChild<PanelButton*>("refreshButton");
    const auto* services = c.findChild<PanelButton*>("servicesButton");
    const auto* mode = c.findChild<PanelButton*>("modeButton");
    const auto* subtitle = c.findChild<QLabel*>("subtitle");
    const auto* title = c.findChild<QLabel*>("title");
    show({usageState(ProviderKind::codex, {{.id = "w", .usedPercent = 1}})});
    EXPECT_EQ(title->text(), "Kestrane");
    EXPECT_EQ(subtitle->text(), "Обновлено в 10:28");
    EXPECT_TRUE(refresh->isEnabled());
    EXPECT_EQ(mode->toolTip(), "Настройки");
    EXPECT_EQ(mode->symbol(), "gearshape");
    EXPECT_EQ(refresh->toolTip(), "Обновить лимиты");
    EXPECT_EQ(services->toolTip(), "Локальные сервисы");

    c.setIsRefreshing(true);
    c.render();
    EXPECT_EQ(subtitle->text(), "Обновляю данные...");
    EXPECT_FALSE(refresh->isEnabled());

    int opened = 0;
    QObject::connect(&c, &PanelContent::servicesOpened, [&] { ++opened; });
    c.showServices();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(title->text(), "Локальные сервисы");
    EXPECT_EQ(subtitle->text(), "Процессы на этом компьютере");
    EXPECT_TRUE(refresh->isHidden());
    EXPECT_TRUE(services->isHidden());
    EXPECT_EQ(mode->symbol(), "chevron.backward");
    EXPECT_EQ(mode->accessibleName(), "Назад к лимитам");

    c.toggleMode();
    EXPECT_EQ(c.mode(), PanelContent::Mode::overview);
    c.toggleMode();
    EXPECT_EQ(c.mode(), PanelContent::Mode::settings);
    EXPECT_EQ(title->text(), "Настройки");
    EXPECT_EQ(subtitle->text(), "Подключенные сервисы");
    EXPECT_EQ(title->font().pixelSize(), 14);
}

TEST_F(PanelContentTest, ChartStyleIsRememberedAcrossOpenings) {
    show({usageState(ProviderKind::codex, {{.id = "w", .usedPercent = 1}})});
    EXPECT_EQ(find<SegmentedControl>("chartStyle")->selectedSegment(), 0);
    controller().chartStyleSelected(1);
    EXPECT_EQ(settingsStore_.value(app::ProviderPreferences::chartShowsBurnKey), true);
    EXPECT_EQ(find<SegmentedControl>("chartStyle")->selectedSegment(), 1);
    EXPECT_EQ(find<SegmentedControl>("chartStyle")->accessibleName(), "Вид графика");

    PanelContent reopened(clock_, moscow_);
    new app::PanelSettingsBinding(reopened, settingsStore_, nullptr);
    EXPECT_EQ(reopened.chartStyle(), PanelContent::ChartStyle::burn);
    reopened.chartStyleSelected(0);
    EXPECT_EQ(settingsStore_.value(app::ProviderPreferences::chartShowsBurnKey), false);
}

TEST_F(PanelContentTest, ForecastBlockAndRecentUsage) {
    show({testing::panel::forecastState(moscow_, kMorning, 2000, 8, 30 * kHour)});
    QWidget* forecast = find("usage-forecast");
    ASSERT_NE(forecast, nullptr);
    EXPECT_FALSE(text("forecastTitle").isEmpty());
    EXPECT_TRUE(text("forecastOutcome").contains("К сбросу") ||
                text("forecastOutcome").contains("При привычной нагрузке"));
    const QString footnote = text("forecastFootnote");
    EXPECT_TRUE(footnote.endsWith(" · 8\u00A0дн. истории") ||
                footnote.startsWith("8\u00A0дн. истории · "))
        << footnote.toStdString();
    EXPECT_TRUE(find("forecastFootnote")->toolTip().startsWith("Прогноз основан"));
    EXPECT_TRUE(text("recent-usage-summary").startsWith("За последний час"));

    // A failed last fetch makes the analytics stale: no forecast, no recent usage.
    auto failing = testing::panel::forecastState(moscow_, kMorning, 2000, 8, 30 * kHour);
    failing.error = "Сервис недоступен.";
    show({failing});
    EXPECT_EQ(find("usage-forecast"), nullptr);
    EXPECT_EQ(find("recent-usage-summary"), nullptr);
}

TEST_F(PanelContentTest, PaceBesideTheResetAndTrackRecordUnderTheForecast) {
    const auto state = testing::panel::forecastState(moscow_, kMorning, 2000, 8, 30 * kHour);
    show({state});
    // 138 of the week's 168 hours gone, 41.2 % used.
    EXPECT_EQ(text("paceLine"), "Темп: медленнее равномерного на 41\u00a0п.п.");
    EXPECT_TRUE(find("paceLine")->toolTip().contains("равномерным"));
    // Three weeks never fit the seven days of history kept: it says so instead of a figure.
    ASSERT_NE(find("usage-forecast"), nullptr);
    EXPECT_EQ(text("forecastTrackRecord"),
              "Прогноз этого лимита не с чем сверить: в 7\u00a0днях истории не помещаются "
              "3\u00a0его цикла");
    EXPECT_FALSE(find("forecastTrackRecord")->toolTip().contains("появится"));

    const auto withRecord = [&](std::optional<forecast::BacktestResult> result) {
        auto outlooks = *testing::panel::outlooksOf({state}, moscow_, clock_.now());
        outlooks.providers.at(0).windows.at(0).trackRecord = result;
        controller().setOutlooks(std::make_shared<const app::BoardSnapshot>(std::move(outlooks)));
        controller().render();
    };
    // No track record worked out yet: no line rather than a guess.
    withRecord(std::nullopt);
    EXPECT_EQ(find("forecastTrackRecord"), nullptr);
    withRecord(forecast::BacktestResult{9, forecast::TrackRecord{27, 0.84, 6.4, 0.9}});
    EXPECT_EQ(text("forecastTrackRecord"),
              "Прогноз на ваших данных: попадание в диапазон 84%\u00a0· ошибка ±6\u00a0п.п.\u00a0· "
              "9\u00a0циклов");
    EXPECT_TRUE(find("forecastTrackRecord")->toolTip().contains("верен в 90%"));
    withRecord(forecast::BacktestResult{1, std::nullopt});
    EXPECT_EQ(text("forecastTrackRecord"),
              "Для оценки прогноза пока мало истории: 1 из 3\u00a0нужных циклов");
    EXPECT_TRUE(find("forecastTrackRecord")->toolTip().contains("появится после 3"));

    // Old figures give no pace.
    auto failing = state;
    failing.error = "Сервис недоступен.";
    show({failing});
    EXPECT_EQ(find("paceLine"), nullptr);
}

TEST_F(PanelContentTest, HeightRule) {
    EXPECT_EQ(PanelContent::maximumVisibleHeight(std::nullopt), 700);
    EXPECT_EQ(PanelContent::maximumVisibleHeight(900), 700);
    EXPECT_EQ(PanelContent::maximumVisibleHeight(600), 470);

    struct Case {
        int screen;
        int fitting;
        QSize expected;
        bool scrolls;
    };
    const Case cases[] = {
        {900, 976, {448, 744}, true},
        {600, 976, {448, 514}, true},
        {900, 300, {448, 368}, false},
        {900, 676, {448, 744}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen * 10000 + c.fitting);
        auto& controller = this->controller();
        controller.setVisibleFrameHeight(c.screen);
        std::optional<QSize> asked;
        const auto connection = QObject::connect(&controller, &PanelContent::contentSizeChanged,
                                                 [&](QSize size) { asked = size; });
        auto* document = new QWidget;
        document->setMinimumHeight(c.fitting);
        document->setMaximumHeight(c.fitting);
        controller.installDocument(document);
        EXPECT_EQ(asked, c.expected);
        EXPECT_EQ(controller.preferredContentSize(), c.expected);
        EXPECT_EQ(controller.scrollView()->widget()->height(), c.fitting + 24);
        EXPECT_EQ(controller.scrollView()->verticalScrollBarPolicy(),
                  c.scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        QObject::disconnect(connection);
    }
}

TEST_F(PanelContentTest, SettingsSwitchesReportToggles) {
    show({usageState(ProviderKind::codex, {}), emptyState(ProviderKind::cursor, false),
          emptyState(ProviderKind::claude, true), emptyState(ProviderKind::kimi, false),
          emptyState(ProviderKind::antigravity, false)});
    controller().toggleMode();
    const auto switches = document()->findChildren<ProviderSwitch*>();
    ASSERT_EQ(switches.size(), 5);
    EXPECT_TRUE(switches[0]->isChecked());
    EXPECT_FALSE(switches[1]->isChecked());
    EXPECT_EQ(switches[1]->objectName(), "provider-toggle-Cursor");
    EXPECT_EQ(switches[1]->accessibleName(), "Показывать Cursor в трее");
    EXPECT_TRUE(texts().contains("Сервисы в трее"));
    // The off switch: knob at the left of the track.
    EXPECT_DOUBLE_EQ(switches[1]->knobRect().left(), switches[1]->trackRect().left() + 3);
    EXPECT_DOUBLE_EQ(switches[0]->knobRect().left(), switches[0]->trackRect().right() - 17);

    std::vector<std::pair<ProviderKind, bool>> toggles;
    QObject::connect(&controller(), &PanelContent::providerToggleRequested,
                     [&](ProviderKind kind, bool on) { toggles.emplace_back(kind, on); });
    switches[1]->click();
    switches[0]->click();
    EXPECT_EQ(toggles, (std::vector<std::pair<ProviderKind, bool>>{{ProviderKind::cursor, true},
                                                                   {ProviderKind::codex, false}}));
}

TEST_F(PanelContentTest, NotificationSettingsAreStoredAsChosen) {
    // The panel tells its choices; the application's binding stores them and hands them back.

    show({usageState(ProviderKind::codex, {}), emptyState(ProviderKind::cursor, true)});
    controller().toggleMode();
    auto* toggle = find<PanelSwitch>(QStringLiteral("notifications-toggle"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->accessibleName(), "Уведомления");
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(texts().contains("Уведомления"));
    auto* below = find<SegmentedControl>(QStringLiteral("notifyBelow"));
    auto* critical = find<SegmentedControl>(QStringLiteral("notifyCritical"));
    ASSERT_NE(below, nullptr);
    ASSERT_NE(critical, nullptr);
    EXPECT_EQ(below->displayedLabel(below->selectedSegment()), "20%");
    EXPECT_EQ(critical->displayedLabel(critical->selectedSegment()), "5%");

    // A click on the 30 % segment, then on the 10 % one of the second row.
    const auto clickSegment = [](SegmentedControl* control, int index) {
        const QPointF point = control->segmentRect(index).center();
        QMouseEvent press(QEvent::MouseButtonPress, point, control->mapToGlobal(point),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(control, &press);
    };
    clickSegment(below, 2);
    EXPECT_EQ(app::ProviderPreferences(settingsStore_).notificationThresholds(),
              (app::NotificationThresholds{30, 5}));
    clickSegment(find<SegmentedControl>(QStringLiteral("notifyCritical")), 2);
    EXPECT_EQ(app::ProviderPreferences(settingsStore_).notificationThresholds(),
              (app::NotificationThresholds{30, 10}));

    find<PanelSwitch>(QStringLiteral("notifications-toggle"))->click();
    EXPECT_FALSE(app::ProviderPreferences(settingsStore_).notificationsEnabled());
    // Rebuilt: the switch is off and the thresholds wait greyed out.
    EXPECT_FALSE(find<PanelSwitch>(QStringLiteral("notifications-toggle"))->isChecked());
    EXPECT_FALSE(find<SegmentedControl>(QStringLiteral("notifyBelow"))->isEnabled());
}

// Every divider of the settings screen is the same line, and the sections have the same room
// on both sides of theirs.
TEST_F(PanelContentTest, SettingsDividersAreAllAlike) {
    testing::panel::FakeStartAtLogin login;
    login.enabled = true;
    startAtLogin_ = &login;
    show({usageState(ProviderKind::codex, {}), usageState(ProviderKind::claude, {})});
    controller().toggleMode();
    ASSERT_EQ(controller().mode(), PanelContent::Mode::settings);
    controller().resize(controller().preferredContentSize());
    controller().show();
    QApplication::processEvents();

    const QList<QWidget*> dividers = document()->findChildren<QWidget*>(QStringLiteral("divider"));
    // One between the two providers, one after the providers, one after the notifications,
    // one between the two choices and one before "Запускать при входе".
    ASSERT_EQ(dividers.size(), 5);
    const QColor separator = PanelTheme::separator().resolve(*document());
    int sectionDividers = 0;
    for (QWidget* divider : dividers) {
        SCOPED_TRACE(divider->mapTo(document(), QPoint()).y());
        EXPECT_EQ(divider->size(), QSize(PanelWidgetKit::documentWidth, 1));
        EXPECT_EQ(divider->grab().toImage().pixelColor(200, 0).rgb(), separator.rgb());
        const auto* layout = qobject_cast<QBoxLayout*>(divider->parentWidget()->layout());
        ASSERT_TRUE(layout);
        const int index = layout->indexOf(divider);
        ASSERT_GT(index, 0);
        ASSERT_LT(index, layout->count() - 1);
        const QRect above = layout->itemAt(index - 1)->geometry();
        const QRect below = layout->itemAt(index + 1)->geometry();
        // Between the providers' rows (each 44 tall, its content centred) the rows touch it.
        const bool betweenProviders =
            layout->itemAt(index - 1)->widget() &&
            layout->itemAt(index - 1)->widget()->objectName() == QStringLiteral("settingsRow");
        const int room = betweenProviders ? 0 : 12;
        if (!betweenProviders) ++sectionDividers;
        EXPECT_EQ(divider->y() - (above.bottom() + 1), room);
        EXPECT_EQ(below.top() - (divider->y() + 1), room);
    }
    EXPECT_EQ(sectionDividers, 4);
}

TEST_F(PanelContentTest, DesktopRowsStoreTheIconTintAndSwitchStartAtLogin) {
    app::ProviderPreferences(settingsStore_).setTrayIconStyle(app::TrayIconStyle::dark);
    testing::panel::FakeStartAtLogin startsAtLogin;
    const std::vector<bool>& requested = startsAtLogin.requested;
    std::optional<std::string>& failure = startsAtLogin.failure;
    startAtLogin_ = &startsAtLogin;
    int tintChanges = 0;
    // The application stores the tint (and redraws the icons).
    QObject::connect(&controller(), &PanelContent::trayIconStyleChosen,
                     [&](app::TrayIconStyle) { ++tintChanges; });
    show({usageState(ProviderKind::codex, {})});
    controller().toggleMode();

    auto* tint = find<SegmentedControl>("trayIconStyle");
    ASSERT_TRUE(tint);
    EXPECT_EQ(tint->segmentCount(), 3);
    EXPECT_EQ(tint->displayedLabel(0), "автоматически");
    EXPECT_EQ(tint->displayedLabel(1), "светлые");
    EXPECT_EQ(tint->displayedLabel(2), "тёмные");
    EXPECT_EQ(tint->selectedSegment(), 2);
    EXPECT_TRUE(texts().contains("Значки в трее"));
    controller().trayIconStyleSelected(1);
    EXPECT_EQ(app::ProviderPreferences(settingsStore_).trayIconStyle(), app::TrayIconStyle::light);
    EXPECT_EQ(tintChanges, 1);
    EXPECT_EQ(find<SegmentedControl>("trayIconStyle")->selectedSegment(), 1);

    auto* appearance = find<SegmentedControl>("panelAppearance");
    ASSERT_TRUE(appearance);
    EXPECT_EQ(appearance->accessibleName(), "Оформление");
    EXPECT_EQ(appearance->displayedLabel(0), "как в системе");
    EXPECT_EQ(appearance->displayedLabel(1), "светлое");
    EXPECT_EQ(appearance->displayedLabel(2), "тёмное");
    EXPECT_EQ(appearance->selectedSegment(), 0);
    std::vector<app::PanelAppearance> appearances;
    QObject::connect(&controller(), &PanelContent::panelAppearanceChosen,
                     [&](app::PanelAppearance chosen) { appearances.push_back(chosen); });
    const QPointF point = appearance->segmentRect(2).center();
    QMouseEvent press(QEvent::MouseButtonPress, point, appearance->mapToGlobal(point),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(appearance, &press);
    EXPECT_EQ(appearances, (std::vector<app::PanelAppearance>{app::PanelAppearance::dark}));
    EXPECT_EQ(find<SegmentedControl>("panelAppearance")->selectedSegment(), 2);

    auto* login = find<PanelSwitch>("startAtLoginToggle");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->accessibleName(), "Запускать при входе");
    EXPECT_FALSE(login->isChecked());
    login->click();
    EXPECT_TRUE(find<PanelSwitch>("startAtLoginToggle")->isChecked());
    EXPECT_FALSE(find<QLabel>("startAtLoginError"));

    // A failure leaves the switch as it is and says why, in the setter's own words.
    failure = "Не удалось записать файл автозапуска.";
    find<PanelSwitch>("startAtLoginToggle")->click();
    EXPECT_EQ(requested, (std::vector<bool>{true, false}));
    EXPECT_TRUE(find<PanelSwitch>("startAtLoginToggle")->isChecked());
    EXPECT_EQ(text("startAtLoginError"), "Не удалось записать файл автозапуска.");
}

TEST_F(PanelContentTest, NoStartAtLoginSwitchWithoutAWayToTell) {
    show({usageState(ProviderKind::codex, {})});
    controller().toggleMode();
    EXPECT_TRUE(find<SegmentedControl>("trayIconStyle"));
    EXPECT_FALSE(find<PanelSwitch>("startAtLoginToggle"));
}

localservices::LocalService serviceRow(int pid, std::string name, std::vector<int> ports) {
    localservices::LocalService row;
    row.pid = pid;
    row.name = std::move(name);
    row.ports = std::move(ports);
    row.command = "node server.js --port 3000";
    row.startToken = "Mon Mar 10 09:00:00 2025";
    return row;
}

class ServicesScreenTest : public PanelContentTest {
  protected:
    void showServices(localservices::LocalServicesViewState state) {
        controller().setLocalServices(std::move(state));
        controller().showServices();
    }
    QStringList messageTitles() {
        QStringList titles;
        for (const QLabel* label : document()->findChildren<QLabel*>("messageTitle")) {
            titles << label->text();
        }
        return titles;
    }
};

TEST_F(ServicesScreenTest, LoadingAndErrors) {
    showServices({.isLoading = true});
    EXPECT_EQ(text("servicesStatus"), "Обновляю список...");
    EXPECT_FALSE(find("refreshServices")->isEnabled());
    EXPECT_EQ(messageTitles(), QStringList{"Сканирование"});
    EXPECT_EQ(text("message"), "Ищу локальные порты и ресурсоемкие dev-процессы...");

    showServices({.error = "Не удалось получить список локальных TCP-сервисов."});
    EXPECT_EQ(text("servicesStatus"), "Только пользовательские dev-сервисы");
    EXPECT_TRUE(find("refreshServices")->isEnabled());
    // A scan that failed has not looked: the error card stands alone.
    EXPECT_EQ(messageTitles(), QStringList{"Требуется внимание"});

    // Rows found but none can be stopped: the rows come after the reason.
    showServices({.services = {serviceRow(4242, "node", {3000})},
                  .notice = "Остановка недоступна: /bin/ps не запускается."});
    EXPECT_EQ(messageTitles(), QStringList{"Требуется внимание"});
    EXPECT_EQ(text("message"), "Остановка недоступна: /bin/ps не запускается.");

    int refreshed = 0;
    QObject::connect(&controller(), &PanelContent::servicesRefreshRequested, [&] { ++refreshed; });
    static_cast<QAbstractButton*>(find("refreshServices"))->click();
    EXPECT_EQ(refreshed, 1);
}

TEST_F(ServicesScreenTest, RowsStatusWordsAndStopButtons) {
    auto web = serviceRow(4100, "node", {3000, 3001});
    web.cpuPercent = 0.0;
    web.project =
        localservices::LocalServiceProject{"shop", QDir::homePath().toStdString() + "/src/shop"};
    auto worker = serviceRow(4200, "python3", {});
    worker.cpuPercent = 12.34;
    worker.memoryBytes = 512ull * 1024 * 1024 + 300 * 1024;
    worker.startedAt = kMorning - 3600;
    worker.workingDirectory = "/srv/jobs";
    auto legacy = serviceRow(4300, "ruby", {8080});
    legacy.startToken.reset();
    localservices::LocalServicesViewState state{.services = {web, worker, legacy},
                                                .updatedAt = kMorning - 300,
                                                .stoppingServiceIDs = {worker.id()}};
    showServices(state);
    EXPECT_EQ(text("servicesStatus"), "Найдено: 3 • 10:25");
    EXPECT_TRUE(messageTitles().isEmpty());

    const auto card = [&](const localservices::LocalService& row) {
        return document()->findChild<QWidget*>(QStringLiteral("service:") +
                                               QString::fromStdString(row.id()));
    };
    const auto label = [&](const localservices::LocalService& row, const char* name) {
        const auto* found = card(row)->findChild<QLabel*>(QString::fromLatin1(name));
        return found ? shown(found) : QStringLiteral("<none>");
    };
    const auto stop = [&](const localservices::LocalService& row) {
        return card(row)->findChild<LocalServiceStopButton*>();
    };
    EXPECT_EQ(label(web, "serviceStatus"), "Работает");
    EXPECT_EQ(label(web, "serviceAddress"), "Порт: 3000, 3001 • PID 4100");
    EXPECT_EQ(label(web, "serviceMetrics"), "CPU 0.0%");
    EXPECT_EQ(label(web, "serviceProject"), "Проект: shop\n~/src/shop");
    EXPECT_EQ(label(web, "serviceCommand"), "Команда: node server.js --port 3000");
    EXPECT_EQ(stop(web)->text(), "Остановить");
    EXPECT_TRUE(stop(web)->isEnabled());
    EXPECT_EQ(stop(web)->serviceID(), QString::fromStdString(web.id()));

    EXPECT_EQ(label(worker, "serviceStatus"), "Останавливается...");
    EXPECT_EQ(label(worker, "serviceAddress"), "Без TCP-порта • PID 4200");
    EXPECT_EQ(label(worker, "serviceMetrics"),
              "CPU 12.3% • RAM 512,3\u00A0МБ • Старт 10\u00A0мар., 09:30");
    EXPECT_EQ(label(worker, "serviceProject"), "Проект: неразобранный • /srv/jobs");
    EXPECT_FALSE(stop(worker)->isEnabled());

    EXPECT_EQ(label(legacy, "serviceMetrics"), "<none>");
    EXPECT_EQ(stop(legacy)->text(), "Остановка недоступна");
    EXPECT_FALSE(stop(legacy)->isEnabled());

    // While a scan runs no row can be stopped.
    state.isLoading = true;
    showServices(state);
    EXPECT_FALSE(stop(web)->isEnabled());
}

TEST_F(ServicesScreenTest, StopAsksFirstAndFindsTheRowAgain) {
    auto web = serviceRow(4100, "node", {3000});
    showServices({.services = {web}});
    std::vector<std::string> asked;
    std::vector<std::string> stopped;
    bool answer = false;
    // The question drawn over the panel, answered as `answer` says.
    const auto answerQuestion = [&] {
        QPointer<StopConfirmation> question = controller().stopConfirmation();
        if (!question) return;
        asked.push_back(web.id());
        (answer ? question->stopButton() : question->cancelButton())->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    QObject::connect(&controller(), &PanelContent::serviceStopRequested,
                     [&](const localservices::LocalService& row) { stopped.push_back(row.id()); });

    document()->findChild<LocalServiceStopButton*>()->click();
    answerQuestion();
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_TRUE(stopped.empty());
    answer = true;
    controller().stopService(QString::fromStdString(web.id()));
    answerQuestion();
    EXPECT_EQ(stopped, std::vector<std::string>{web.id()});
    // A row that left the list before the click: nothing is asked or stopped.
    controller().stopService(QStringLiteral("999:gone"));
    answerQuestion();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(stopped.size(), 1u);
}

TEST_F(ServicesScreenTest, ConfirmationTexts) {
    auto row = serviceRow(4100, "node", {3000});
    QWidget window;
    window.resize(448, 600);
    auto* question = new StopConfirmation(row, window);
    EXPECT_EQ(StopConfirmation::message(row), "Остановить node?");
    EXPECT_EQ(StopConfirmation::informativeText(row),
              "Kestrane повторно проверит PID 4100 и отправит только SIGTERM. Проект не определен "
              "- проверьте команду и процесс перед остановкой.");
    const auto shownText = [&](const char* name) {
        return shown(question->findChild<QLabel*>(QString::fromLatin1(name)));
    };
    EXPECT_EQ(shownText("stopConfirmationMessage"), StopConfirmation::message(row));
    EXPECT_EQ(shownText("stopConfirmationDetails"), StopConfirmation::informativeText(row));
    // "Остановить" first (the default, which takes the focus), then "Отмена".
    const QList<PanelButton*> buttons = question->findChildren<PanelButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0], question->stopButton());
    EXPECT_EQ(question->stopButton()->text(), "Остановить");
    EXPECT_EQ(question->cancelButton()->text(), "Отмена");

    // The process names itself: its name is never read as markup.
    for (const QLabel* label : question->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }

    row.project = localservices::LocalServiceProject{"shop", "/home/u/shop"};
    EXPECT_EQ(StopConfirmation::informativeText(row),
              "Kestrane повторно проверит PID 4100 и отправит только SIGTERM.");
}

// The question drawn inside the panel: no window of its own, the keyboard held and given back.
TEST_F(ServicesScreenTest, ConfirmationInsideThePanelByKeyboard) {
    auto web = serviceRow(4100, "node", {3000});
    showServices({.services = {web}});
    controller().resize(controller().preferredContentSize());
    controller().show();
    controller().activateWindow();
    QApplication::processEvents();
    std::vector<std::string> stopped;
    QObject::connect(&controller(), &PanelContent::serviceStopRequested,
                     [&](const localservices::LocalService& row) { stopped.push_back(row.id()); });
    // A key pressed and released, as the window system delivers it.
    const auto press = [](QWidget* target, int key) {
        QPointer<QWidget> guard(target);
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        if (guard) QApplication::sendEvent(guard, &up);
    };
    const auto stopButton = [&] { return document()->findChild<LocalServiceStopButton*>(); };

    stopButton()->setFocus(Qt::TabFocusReason);
    press(stopButton(), Qt::Key_Return);
    QPointer<StopConfirmation> question = controller().stopConfirmation();
    ASSERT_TRUE(question);
    EXPECT_TRUE(question->isVisible());
    EXPECT_FALSE(question->isWindow());
    EXPECT_EQ(question->parentWidget(), controller().window());
    EXPECT_TRUE(question->rect().contains(question->cardRect()));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(question.data());
    ASSERT_TRUE(accessible);
    EXPECT_EQ(accessible->role(), QAccessible::Dialog);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Остановить node?");
    for (PanelButton* button : {question->stopButton(), question->cancelButton()}) {
        QAccessibleInterface* each = QAccessible::queryAccessibleInterface(button);
        ASSERT_TRUE(each);
        EXPECT_EQ(each->role(), QAccessible::Button);
        EXPECT_EQ(each->text(QAccessible::Name), button->text());
    }

    // The focus on the default; Tab goes between the two buttons and stays inside.
    EXPECT_EQ(QApplication::focusWidget(), question->stopButton());
    press(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), question->cancelButton());
    press(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), question->stopButton());
    press(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), question->cancelButton());

    // Escape: nothing is stopped, the question goes, the focus is back on the stop button.
    press(QApplication::focusWidget(), Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(question);
    EXPECT_FALSE(controller().stopConfirmation());
    EXPECT_TRUE(stopped.empty());
    EXPECT_EQ(QApplication::focusWidget(), stopButton());

    // "Отмена" by Space does the same.
    press(stopButton(), Qt::Key_Space);
    question = controller().stopConfirmation();
    ASSERT_TRUE(question);
    question->cancelButton()->setFocus(Qt::TabFocusReason);
    press(question->cancelButton(), Qt::Key_Space);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(question);
    EXPECT_TRUE(stopped.empty());

    // Enter on the default stops the row that was asked about.
    press(stopButton(), Qt::Key_Enter);
    question = controller().stopConfirmation();
    ASSERT_TRUE(question);
    press(QApplication::focusWidget(), Qt::Key_Enter);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(question);
    EXPECT_EQ(stopped, std::vector<std::string>{web.id()});

    // The row being stopped, a second row beside it: the focus leaves the disabled button for
    // the screen's first control, never for the other row's stop button.
    const auto other = serviceRow(4200, "python3", {8000});
    controller().setLocalServices({.services = {web, other}, .stoppingServiceIDs = {web.id()}});
    controller().render();
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "refreshServices");
}

// After a confirmed stop the rescan comes back without the stopped process; the point where
// "Остановить" was pressed must not then be over another process's live stop button.
TEST_F(ServicesScreenTest, NoOtherStopButtonMovesUnderThePointerAfterAStop) {
    const auto first = serviceRow(4100, "node", {3000});
    const auto second = serviceRow(4200, "python3", {8000});
    const auto third = serviceRow(4300, "ruby", {9292});
    const auto fresh = serviceRow(4400, "deno", {4000});
    localservices::LocalServicesViewState state{.services = {first, second, third},
                                                .updatedAt = kMorning - 60};
    showServices(state);
    controller().resize(controller().preferredContentSize());
    controller().show();
    controller().activateWindow();
    QApplication::processEvents();
    std::vector<localservices::LocalService> stopped;
    QObject::connect(&controller(), &PanelContent::serviceStopRequested,
                     [&](const localservices::LocalService& row) { stopped.push_back(row); });

    const auto stopButtonOf = [&](const localservices::LocalService& row) {
        for (auto* button : document()->findChildren<LocalServiceStopButton*>()) {
            if (button->serviceID() == QString::fromStdString(row.id())) return button;
        }
        return static_cast<LocalServiceStopButton*>(nullptr);
    };
    const auto liveStopButtonAt = [&](QPoint point) -> LocalServiceStopButton* {
        QApplication::processEvents();
        QWidget* hit = controller().childAt(point);
        while (hit && !qobject_cast<LocalServiceStopButton*>(hit)) hit = hit->parentWidget();
        auto* button = qobject_cast<LocalServiceStopButton*>(hit);
        return button && button->isEnabled() ? button : nullptr;
    };

    LocalServiceStopButton* pressed = stopButtonOf(first);
    ASSERT_TRUE(pressed);
    const QPoint point = pressed->mapTo(&controller(), pressed->rect().center());
    ASSERT_EQ(liveStopButtonAt(point), pressed);
    pressed->click();
    ASSERT_TRUE(controller().stopConfirmation());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &enter);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].id(), first.id());

    // What the application does: the row is being stopped, then the rescan comes back with
    // the first process gone and a new one found.
    state.stoppingServiceIDs = {first.id()};
    controller().setLocalServices(state);
    controller().render();
    EXPECT_EQ(liveStopButtonAt(point), nullptr);
    state.stoppingServiceIDs.clear();
    state.applyAfterStop({.services = {fresh, third, second}}, kMorning);
    controller().setLocalServices(state);
    controller().render();

    EXPECT_EQ(liveStopButtonAt(point), nullptr);
    ASSERT_TRUE(stopButtonOf(first));
    EXPECT_FALSE(stopButtonOf(first)->isEnabled());
    const auto* card = document()->findChild<QWidget*>(QStringLiteral("service:") +
                                                       QString::fromStdString(first.id()));
    EXPECT_EQ(shown(card->findChild<QLabel*>(QStringLiteral("serviceStatus"))), "Остановлен");
    // The others keep their places and their buttons; the new one comes last.
    for (const auto& row : {second, third, fresh}) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(stopButtonOf(row));
        EXPECT_TRUE(stopButtonOf(row)->isEnabled());
    }
    EXPECT_LT(stopButtonOf(second)->mapTo(&controller(), QPoint()).y(),
              stopButtonOf(third)->mapTo(&controller(), QPoint()).y());
    EXPECT_LT(stopButtonOf(third)->mapTo(&controller(), QPoint()).y(),
              stopButtonOf(fresh)->mapTo(&controller(), QPoint()).y());
    EXPECT_EQ(text("servicesStatus"), "Найдено: 3 • 10:30");
    // A click on the kept row asks nothing.
    controller().stopService(QString::fromStdString(first.id()));
    EXPECT_FALSE(controller().stopConfirmation());

    // The next scan replaces the list.
    state.apply({.services = {second, third, fresh}}, kMorning);
    controller().setLocalServices(state);
    controller().render();
    EXPECT_EQ(stopButtonOf(first), nullptr);
    EXPECT_EQ(document()->findChildren<LocalServiceStopButton*>().size(), 3);
}

TEST_F(ServicesScreenTest, ProcessTextsShowAsWritten) {
    const std::string markup = "<i>node</i>";
    auto row = serviceRow(4100, markup, {3000});
    row.command = "<b>node</b> server.js";
    showServices({.services = {row}});
    for (const QLabel* label : document()->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_EQ(text("serviceName"), QString::fromStdString(markup));
    EXPECT_EQ(text("serviceCommand"), "Команда: <b>node</b> server.js");
    QTextDocument shownToolTip;
    shownToolTip.setHtml(find("serviceName")->toolTip());
    EXPECT_EQ(shownToolTip.toPlainText(), QString::fromStdString(markup));
}

}  // namespace
}  // namespace kestrane::ui
