#include "app/desktop/DesktopCoordinator.h"

#include <cstdlib>
#include <mutex>

#include <QCoreApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include "app/board/StoreBackedHistory.h"
#include "app/board/TimeZoneWatch.h"
#include "app/desktop/ManualRunner.h"

#include "history/UsageHistoryStore.h"
#include "platform/Calendar.h"
#include "platform/SettingsStore.h"
#include "support/FixedClock.h"
#include "support/TempDirectory.h"
#include "ui/PanelContent.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWindow.h"

namespace kestrane::app {
namespace {

using model::FetchResult;
using model::ProviderKind;
using model::ProviderUsage;
using Content = ui::TrayIconRenderer::Content;
using testing::ManualRunner;

class FakeTrayIcons final : public TrayIcons {
  public:
    void show(const Content& content) override { shown.push_back(content); }
    std::optional<QRect> geometry() const override { return QRect(300, 0, 44, 22); }
    bool isAvailable() const override { return available; }

    std::vector<Content> shown;
    bool available = true;
};

class FakeHistory final : public BoardHistory {
  public:
    void pruneExpired(platform::Date) override { ++prunes; }
    void record(const std::vector<ProviderUsage>& usages) override {
        ++records;
        recorded.insert(recorded.end(), usages.begin(), usages.end());
    }
    std::optional<std::string> persistenceError() const override { return error; }
    std::optional<history::UsageSeries> series(ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date) const override {
        if (window.id.ends_with("-0"))
            return history::UsageSeries{.provider = provider, .windowID = window.id};
        return std::nullopt;
    }
    std::optional<history::RhythmHistory> rhythm(ProviderKind,
                                                 const model::LimitWindow&) const override {
        return std::nullopt;
    }
    void setCalendar(platform::Calendar calendar) override {
        calendars.push_back(calendar.timeZoneIdentifier());
    }

    int prunes = 0;
    // Calls of record: one per refresh with successes.
    int records = 0;
    std::vector<std::string> calendars;
    std::vector<ProviderUsage> recorded;
    std::optional<std::string> error;
};

// Keeps what the delegate leaves for `kestrane --status`.
class RecordingPublisher final : public StatusPublisher {
  public:
    void boardChanged(const std::shared_ptr<const BoardSnapshot>& board) override {
        published.push_back({board->enabled, board->states});
        zones.push_back(board->calendar.timeZoneIdentifier());
    }
    void withdraw() override { ++withdrawals; }

    std::vector<std::pair<std::vector<ProviderKind>, std::map<ProviderKind, ProviderState>>>
        published;
    // The zone of the board's calendar at each publication.
    std::vector<std::string> zones;
    int withdrawals = 0;
};

// Answers each provider with what the test set; called on the fetch threads.
class FakeFetch {
  public:
    void answer(FetchResult result) {
        const std::lock_guard lock(mutex_);
        answers_.insert_or_assign(result.provider(), std::move(result));
    }
    FetchResult operator()(ProviderKind kind) {
        const std::lock_guard lock(mutex_);
        calls_.push_back(kind);
        const auto found = answers_.find(kind);
        if (found == answers_.end()) return FetchResult::failure(kind, "нет ответа");
        return found->second;
    }
    std::vector<ProviderKind> calls() {
        const std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    std::mutex mutex_;
    std::map<ProviderKind, FetchResult> answers_;
    std::vector<ProviderKind> calls_;
};

ProviderUsage usage(ProviderKind kind, std::vector<double> usedPercents) {
    ProviderUsage result;
    result.provider = kind;
    for (std::size_t i = 0; i < usedPercents.size(); ++i) {
        result.windows.push_back(
            {.id = std::string(model::rawValue(kind)) + "-" + std::to_string(i),
             .name = "Сессия",
             .usedPercent = usedPercents[i],
             .durationMinutes = 300});
    }
    result.updatedAt = platform::Date{1'765'000'000};
    return result;
}

// What a test changes of the delegate's dependencies; everything else is the fixture's fakes.
struct Changes {
    std::vector<std::string> arguments;
    // The fixture's FakeHistory when none.
    BoardHistory* history = nullptr;
    UsageNotifier* notifier = nullptr;
    TimeZoneWatch* timeZone = nullptr;
};

class DesktopCoordinatorTest : public ::testing::Test {
  protected:
    void SetUp() override { delegate_ = build(); }
    void TearDown() override {
        delegate_.reset();
        // Panels closed during a test go on the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The one way a delegate is made here: over the fixture's fakes, with what `changes` says.
    std::unique_ptr<DesktopCoordinator> build(Changes changes = {}) {
        auto made = std::make_unique<DesktopCoordinator>(DesktopCoordinator::Dependencies{
            .settingsStore = settingsStore_,
            .clock = clock_,
            .history = changes.history ? *changes.history : history_,
            .trayIcons = trayIcons_,
            .fetch = [this](const model::Account& account) { return fetch_(account.key.provider); },
            .runInBackground = runner_.runner(),
            .localServices = {.scan = [this] { return LocalServiceScan{.services = listed_}; },
                              .stop = [](const LocalService&) {},
                              .pause = [](double) {}},
            .arguments = std::move(changes.arguments),
            .notifier = changes.notifier,
            .timeZone = changes.timeZone,
            .status = publisher_,
        });
        QObject::connect(made.get(), &DesktopCoordinator::quitRequested, [this] { ++quits_; });
        return made;
    }

    void enableOnly(std::initializer_list<ProviderKind> kinds) {
        ProviderPreferences preferences(settingsStore_);
        for (const ProviderKind kind : model::allProviderKinds) {
            preferences.setEnabled(std::find(kinds.begin(), kinds.end(), kind) != kinds.end(),
                                   kind);
        }
    }
    // One refresh through to its end.
    void refreshNow(DesktopCoordinator& delegate) {
        delegate.refresh();
        runner_.finishAll();
    }
    void refreshNow() { refreshNow(*delegate_); }
    std::string badge() const {
        return trayIcons_.shown.empty() ? "" : trayIcons_.shown.back().accessibilityText();
    }
    void nextTurn() { QCoreApplication::processEvents(); }

    platform::MemorySettingsStore settingsStore_;
    testing::FixedClock clock_;
    FakeHistory history_;
    FakeTrayIcons trayIcons_;
    FakeFetch fetch_;
    ManualRunner runner_;
    std::shared_ptr<RecordingPublisher> publisher_ = std::make_shared<RecordingPublisher>();
    std::unique_ptr<DesktopCoordinator> delegate_;
    int quits_ = 0;
    std::vector<LocalService> listed_;
};

TEST_F(DesktopCoordinatorTest, EveryProviderDisabledStartsNoFetch) {
    enableOnly({});
    delegate_->start();
    delegate_->backgroundRefresh();
    delegate_->systemResumed();
    EXPECT_EQ(runner_.pending(), 0u);
    EXPECT_FALSE(delegate_->lastAttemptAt());
    // The history is pruned on every request, fetch or not.
    EXPECT_EQ(history_.prunes, 3);
    ASSERT_EQ(trayIcons_.shown.size(), 1u);
    EXPECT_EQ(trayIcons_.shown.back(), Content{});
}

TEST_F(DesktopCoordinatorTest, LaunchDrawsDashesThenTheFetchedValues) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::cursor, {62.5})));
    delegate_->start();
    EXPECT_EQ(badge(), "Codex -- осталось, Cursor -- осталось");
    EXPECT_TRUE(delegate_->isRefreshing());
    EXPECT_EQ(delegate_->lastAttemptAt(), clock_.now());
    runner_.finishAll();
    EXPECT_FALSE(delegate_->isRefreshing());
    EXPECT_EQ(badge(), "Codex 80% осталось, Cursor 38% осталось");
    EXPECT_EQ(history_.recorded.size(), 2u);
    ASSERT_TRUE(delegate_->refreshTimer());
    EXPECT_EQ(delegate_->refreshTimer()->interval(), 300'000);
    EXPECT_TRUE(delegate_->refreshTimer()->isActive());
}

TEST_F(DesktopCoordinatorTest, LeavesItsStateAfterLaunchEachRefreshAndSwitchAndWithdrawsAtTheEnd) {
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20})));
    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Сессия Claude истекла."));
    delegate_->start();
    ASSERT_EQ(publisher_->published.size(), 1u);
    EXPECT_FALSE(publisher_->published.back().second.at(ProviderKind::codex).usage);

    runner_.finishAll();
    ASSERT_EQ(publisher_->published.size(), 2u);
    const auto& [enabled, states] = publisher_->published.back();
    EXPECT_EQ(enabled, (std::vector{ProviderKind::codex, ProviderKind::claude}));
    EXPECT_EQ(remainingText(states.at(ProviderKind::codex)), "80%");
    EXPECT_EQ(states.at(ProviderKind::claude).error, "Сессия Claude истекла.");

    delegate_->setProvider(ProviderKind::codex, false);
    ASSERT_EQ(publisher_->published.size(), 3u);
    EXPECT_EQ(publisher_->published.back().first, std::vector{ProviderKind::claude});

    EXPECT_EQ(publisher_->withdrawals, 0);
    delegate_->shutDown();
    EXPECT_EQ(publisher_->withdrawals, 1);
}

TEST_F(DesktopCoordinatorTest, TicksDuringASlowRefreshAreDropped) {
    delegate_->start();
    delegate_->backgroundRefresh();
    delegate_->backgroundRefresh();
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_EQ(fetch_.calls().size(), 2u);
    delegate_->backgroundRefresh();
    EXPECT_EQ(runner_.pending(), 1u);
}

TEST_F(DesktopCoordinatorTest, FailureKeepsTheLastGoodNumbersAndShowsTheMessage) {
    enableOnly({ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {63})));
    refreshNow();
    EXPECT_EQ(badge(), "Claude 37% осталось");
    const std::string limited = "Claude: слишком много запросов (HTTP 429).";
    fetch_.answer(FetchResult::failure(ProviderKind::claude, limited));
    refreshNow();
    EXPECT_EQ(badge(), "Claude 37% осталось");
    const ProviderState& state = delegate_->states().at(ProviderKind::claude);
    EXPECT_EQ(state.error, limited);
    ASSERT_TRUE(state.usage);
    EXPECT_EQ(state.usage->windows.front().usedPercent, 63);

    // The panel shows both.
    clock_.advance(10);
    delegate_->togglePanel();
    ASSERT_TRUE(delegate_->panelContent());
    const auto& shown = delegate_->panelContent()->states().at(2);
    EXPECT_EQ(shown.error, limited);
    EXPECT_TRUE(shown.usage);

    // The next success clears the error.
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {70})));
    refreshNow();
    EXPECT_FALSE(delegate_->states().at(ProviderKind::claude).error);
}

TEST_F(DesktopCoordinatorTest, RemainingTextRoundsClampsAndFallsBack) {
    enableOnly({ProviderKind::claude});
    const struct {
        const char* name;
        FetchResult result;
        std::string text;
    } cases[] = {
        {"used -5", FetchResult::success(usage(ProviderKind::claude, {-5})), "100%"},
        {"used 100.4", FetchResult::success(usage(ProviderKind::claude, {100.4})), "0%"},
        {"used 62.5", FetchResult::success(usage(ProviderKind::claude, {62.5})), "38%"},
        {"second window ignored", FetchResult::success(usage(ProviderKind::claude, {10, 90})),
         "90%"},
        {"no windows, no error", FetchResult::success(usage(ProviderKind::claude, {})), "--"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        delegate_->apply(testCase.result);
        EXPECT_EQ(delegate_->remainingText(ProviderKind::claude), testCase.text);
    }
    // Never succeeded, failed: "!".
    delegate_->apply(FetchResult::failure(ProviderKind::kimi, "ошибка"));
    EXPECT_EQ(delegate_->remainingText(ProviderKind::kimi), "!");
    EXPECT_EQ(delegate_->remainingText(ProviderKind::antigravity), "--");
}

TEST_F(DesktopCoordinatorTest, BadgeWaitsUnderTheOpenPanelAndIsDrawnOnceWhenItCloses) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    delegate_->start();
    runner_.finishAll();
    const std::size_t drawn = trayIcons_.shown.size();

    clock_.advance(120);
    delegate_->togglePanel();  // opens and refreshes: the last attempt is 2 minutes old
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {50})));
    runner_.finishAll();
    EXPECT_EQ(trayIcons_.shown.size(), drawn);

    delegate_->togglePanel();  // closes
    EXPECT_FALSE(delegate_->panel());
    ASSERT_EQ(trayIcons_.shown.size(), drawn + 1);
    EXPECT_EQ(badge(), "Codex 50% осталось, Cursor ! осталось");
    // Nothing changed since: nothing more is drawn.
    delegate_->renderTrayIcons();
    EXPECT_EQ(trayIcons_.shown.size(), drawn + 1);
}

TEST_F(DesktopCoordinatorTest, UsageOfAProviderDisabledDuringTheFetchIsDiscarded) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::cursor, {20})));
    delegate_->start();
    delegate_->setProvider(ProviderKind::codex, false);
    runner_.finishAll();
    EXPECT_FALSE(delegate_->states().at(ProviderKind::codex).usage);
    ASSERT_EQ(history_.recorded.size(), 1u);
    EXPECT_EQ(history_.recorded.front().provider, ProviderKind::cursor);
    EXPECT_EQ(badge(), "Cursor 80% осталось");
}

TEST_F(DesktopCoordinatorTest, ProviderEnabledDuringARefreshWaitsForTheNextTrigger) {
    delegate_->start();
    delegate_->setProvider(ProviderKind::claude, true);
    nextTurn();
    runner_.finishAll();
    const auto calls = fetch_.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), ProviderKind::claude), 0);
    delegate_->setProvider(ProviderKind::kimi, true);
    nextTurn();  // no refresh runs now, so enabling fetches at once
    runner_.finishAll();
    const auto later = fetch_.calls();
    EXPECT_EQ(std::count(later.begin(), later.end(), ProviderKind::claude), 1);
    EXPECT_EQ(std::count(later.begin(), later.end(), ProviderKind::kimi), 1);
}

TEST_F(DesktopCoordinatorTest, WakeRefreshesOnlyWhenTheLastAttemptIsFiveMinutesOld) {
    delegate_->start();
    runner_.finishAll();
    clock_.advance(4 * 60);
    delegate_->systemResumed();
    EXPECT_EQ(runner_.pending(), 0u);
    clock_.advance(2 * 60);
    delegate_->systemResumed();
    EXPECT_EQ(runner_.pending(), 1u);
}

TEST_F(DesktopCoordinatorTest, OpeningThePanelRefreshesOnlyWhenTheLastAttemptIsAMinuteOld) {
    delegate_->start();
    runner_.finishAll();
    clock_.advance(30);
    delegate_->togglePanel();
    EXPECT_EQ(runner_.pending(), 0u);
    delegate_->togglePanel();
    clock_.advance(60);
    delegate_->togglePanel();
    EXPECT_EQ(runner_.pending(), 1u);
    EXPECT_TRUE(delegate_->panelContent()->isRefreshing());
}

TEST_F(DesktopCoordinatorTest, MinuteTimerRunsOnlyWhileThePanelIsOpen) {
    delegate_->start();
    EXPECT_FALSE(delegate_->visibleRefreshTimer());
    delegate_->togglePanel();
    ASSERT_TRUE(delegate_->visibleRefreshTimer());
    EXPECT_EQ(delegate_->visibleRefreshTimer()->interval(), 60'000);
    EXPECT_TRUE(delegate_->visibleRefreshTimer()->isActive());
    ASSERT_TRUE(delegate_->panel());
    EXPECT_TRUE(delegate_->panel()->isVisible());
    // The panel hangs under the status item.
    EXPECT_NEAR(delegate_->panel()->geometry().center().x(), 322, 1);

    delegate_->togglePanel();
    EXPECT_FALSE(delegate_->visibleRefreshTimer());
    EXPECT_TRUE(delegate_->refreshTimer()->isActive());

    delegate_->shutDown();
    EXPECT_FALSE(delegate_->refreshTimer());
}

TEST_F(DesktopCoordinatorTest, PanelGetsEveryProviderStateInCanonicalOrder) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    delegate_->start();
    runner_.finishAll();
    history_.error = "История доступна в этой сессии, но не сохраняется на диск.";
    clock_.advance(5);
    delegate_->togglePanel();
    const auto* controller = delegate_->panelContent();
    ASSERT_TRUE(controller);
    // The board's reading of every window of the enabled providers, with the history of the
    // windows that have one.
    ASSERT_TRUE(controller->outlooks());
    const app::BoardProvider* codex = controller->outlooks()->find(ProviderKind::codex);
    ASSERT_TRUE(codex);
    ASSERT_EQ(codex->windows.size(), 1u);
    EXPECT_EQ(codex->windows.front().windowID, "Codex-0");
    EXPECT_TRUE(codex->windows.front().series);
    const app::BoardProvider* cursor = controller->outlooks()->find(ProviderKind::cursor);
    ASSERT_TRUE(cursor);
    EXPECT_TRUE(cursor->windows.empty());

    delegate_->setProvider(ProviderKind::codex, false);
    nextTurn();
    ASSERT_EQ(controller->states().size(), model::allProviderKinds.size());
    for (std::size_t i = 0; i < model::allProviderKinds.size(); ++i) {
        EXPECT_EQ(controller->states()[i].provider, model::allProviderKinds[i]);
    }
    // Disabled, with its last usage kept; the board reads nothing of it any more.
    EXPECT_FALSE(controller->states()[0].isEnabled);
    EXPECT_TRUE(controller->states()[0].usage);
    EXPECT_FALSE(controller->outlooks()->find(ProviderKind::codex));
    EXPECT_TRUE(controller->states()[1].isEnabled);
    EXPECT_EQ(controller->historyError(), history_.error);
}

TEST_F(DesktopCoordinatorTest, StoredSelectionIsReadExactly) {
    const struct {
        platform::Json stored;
        std::optional<ProviderKind> selected;
    } cases[] = {
        {"Kimi", ProviderKind::kimi},
        {"codex", std::nullopt},
        {true, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.stored.dump());
        settingsStore_.setValue("selectedProvider", testCase.stored);
        delegate_->togglePanel();
        ASSERT_TRUE(delegate_->panelContent());
        EXPECT_EQ(delegate_->panelContent()->selectedProvider(), testCase.selected);
        delegate_->togglePanel();
    }
}

TEST_F(DesktopCoordinatorTest, MenuClosesThePanelAndItsItemQuits) {
    delegate_->start();
    delegate_->togglePanel();
    ASSERT_TRUE(delegate_->panel());
    emit trayIcons_.menuWillShow();
    EXPECT_FALSE(delegate_->panel());
    emit trayIcons_.quitRequested();
    EXPECT_EQ(quits_, 1);
    // A left click on the item toggles the panel.
    emit trayIcons_.clicked();
    EXPECT_TRUE(delegate_->panel());
}

TEST_F(DesktopCoordinatorTest, MenuItemsOpenTheirScreenAndRefresh) {
    using Mode = ui::PanelContent::Mode;
    using Screen = TrayIcons::Screen;
    enableOnly({ProviderKind::codex});
    delegate_->start();
    runner_.finishAll();
    const struct {
        const char* name;
        Screen screen;
        Mode mode;
    } cases[] = {
        {"settings", Screen::settings, Mode::settings},
        {"services", Screen::services, Mode::services},
        {"limits", Screen::overview, Mode::overview},
    };
    for (const bool open : {false, true}) {
        for (const auto& testCase : cases) {
            SCOPED_TRACE(std::string(testCase.name) + (open ? ", panel open" : ", panel closed"));
            if (!open && delegate_->panel()) delegate_->panel()->close();
            emit trayIcons_.screenRequested(testCase.screen);
            ASSERT_TRUE(delegate_->panel());
            EXPECT_TRUE(delegate_->panel()->isVisible());
            EXPECT_EQ(delegate_->panel()->presentation(), ui::PanelWindow::Presentation::floating);
            EXPECT_EQ(delegate_->panelContent()->mode(), testCase.mode);
        }
    }
    // "Обновить" (and a middle click, which the tray item reports the same way): one fetch.
    const std::size_t before = fetch_.calls().size();
    emit trayIcons_.refreshRequested();
    runner_.finishAll();
    EXPECT_EQ(fetch_.calls().size(), before + 1);
    delegate_->panel()->close();
}

TEST_F(DesktopCoordinatorTest, WithoutATrayThePanelOpensAsAWindowAndClosingItQuits) {
    trayIcons_.available = false;
    delegate_->start();
    ASSERT_TRUE(delegate_->panel());
    EXPECT_EQ(delegate_->panel()->presentation(), ui::PanelWindow::Presentation::window);
    EXPECT_TRUE(delegate_->panel()->isVisible());
    EXPECT_EQ(delegate_->panel()->notice(), "Трей не найден: закрытие окна завершит Kestrane.");
    delegate_->panel()->close();
    EXPECT_EQ(quits_, 1);
}

TEST_F(DesktopCoordinatorTest, OnceATrayAppearedClosingTheWindowKeepsTheProgram) {
    trayIcons_.available = false;
    delegate_->start();
    ASSERT_TRUE(delegate_->panel());
    // The panel came up before the tray; now the tray is there and shows the icons.
    trayIcons_.available = true;
    emit trayIcons_.becameAvailable();
    EXPECT_EQ(delegate_->panel()->notice(),
              "Трей появился: закрытое окно оставит Kestrane в трее.");
    delegate_->panel()->close();
    EXPECT_EQ(quits_, 0);
    // From now on the panel opens as the floating panel.
    emit trayIcons_.clicked();
    ASSERT_TRUE(delegate_->panel());
    EXPECT_EQ(delegate_->panel()->presentation(), ui::PanelWindow::Presentation::floating);
}

TEST_F(DesktopCoordinatorTest, ActivateOpensThePanelAndNeverClosesIt) {
    delegate_->start();
    delegate_->activate();
    ASSERT_TRUE(delegate_->panel());
    ui::PanelWindow* panel = delegate_->panel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->presentation(), ui::PanelWindow::Presentation::floating);
    delegate_->activate();
    EXPECT_EQ(delegate_->panel(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(DesktopCoordinatorTest, EveryTrayEntryCarriesItsOwnProvidersToolTip) {
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {63})));
    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Claude отвечает 429."));
    delegate_->start();
    runner_.finishAll();
    ASSERT_FALSE(trayIcons_.shown.empty());
    const Content& content = trayIcons_.shown.back();
    ASSERT_EQ(content.entries.size(), 2u);
    EXPECT_TRUE(content.entries[0].toolTip.starts_with("Codex: осталось 37% (Сессия - 5 часов)"))
        << content.entries[0].toolTip;
    EXPECT_EQ(content.entries[1].toolTip, "Claude: Claude отвечает 429.");
    // The accessibility text of the whole badge stays as it was.
    EXPECT_EQ(content.accessibilityText(), "Codex 37% осталось, Claude ! осталось");
}

TEST_F(DesktopCoordinatorTest, RefreshFinishingAfterTheDelegateIsGoneDoesNothing) {
    delegate_->start();
    delegate_.reset();
    runner_.finishAll();
    EXPECT_TRUE(history_.recorded.empty());
}

TEST_F(DesktopCoordinatorTest, SuccessesAreRecordedIntoTheStoreAndShownWithTheirSeries) {
    history::UsageHistoryStore store(std::nullopt, clock_.now(), platform::Calendar("UTC"));
    StoreBackedHistory stored(store, clock_);
    const auto delegate = build({.history = &stored});
    ProviderUsage codex = usage(ProviderKind::codex, {25});
    codex.updatedAt = clock_.now();
    fetch_.answer(FetchResult::success(codex));
    refreshNow(*delegate);
    const auto series = store.series(ProviderKind::codex, codex.windows.front(), clock_.now());
    ASSERT_TRUE(series);
    EXPECT_EQ(series->samples.size(), 1u);

    delegate->togglePanel();
    ASSERT_TRUE(delegate->panelContent());
    ASSERT_TRUE(delegate->panelContent()->outlooks());
    const app::BoardProvider* codexOutlook =
        delegate->panelContent()->outlooks()->find(ProviderKind::codex);
    ASSERT_TRUE(codexOutlook);
    const app::BoardWindow* window = codexOutlook->window(0, "Codex-0");
    ASSERT_TRUE(window);
    ASSERT_TRUE(window->series);
    EXPECT_EQ(*window->series, *series);
    delegate->togglePanel();
}

// A change of the system's time zone reaches the history (hours learned in the new zone), the
// open panel (dates and forecast in the new zone), the tray's tool tips and the status file
// at the next refresh: all of them read the board's one calendar.
TEST_F(DesktopCoordinatorTest, TimeZoneChangeReachesEveryReaderAtTheNextRefresh) {
    testing::TempDirectory folder;
    history::UsageHistoryStore store(folder.path() / "usage-history-v1.json", clock_.now(),
                                     platform::Calendar("Europe/Moscow"));
    StoreBackedHistory stored(store, clock_);
    std::string zone = "Europe/Moscow";
    TimeZoneWatch watch(store.calendar(), [&zone] { return zone; });
    enableOnly({ProviderKind::codex});
    const auto delegate = build({.history = &stored, .timeZone = &watch});
    // The window resets at 09:00 UTC: 12:00 in Moscow, 04:00 in New York.
    const platform::Date reset =
        *platform::Calendar("UTC").startOfDay(clock_.now()) + 86400 + 9 * 3600;
    const auto fetchAt = [&](double used) {
        ProviderUsage codex = usage(ProviderKind::codex, {used});
        codex.updatedAt = clock_.now();
        codex.windows.front().resetsAt = reset;
        fetch_.answer(FetchResult::success(codex));
        refreshNow(*delegate);
    };
    const auto toolTip = [&] {
        return trayIcons_.shown.empty() || trayIcons_.shown.back().entries.empty()
                   ? std::string()
                   : trayIcons_.shown.back().entries.front().toolTip;
    };
    fetchAt(10);
    EXPECT_NE(toolTip().find("12:00"), std::string::npos) << toolTip();
    delegate->togglePanel();
    runner_.finishAll();
    ASSERT_TRUE(delegate->panelContent());
    EXPECT_EQ(delegate->panelContent()->calendar().timeZoneIdentifier(), "Europe/Moscow");

    zone = "America/New_York";
    clock_.advance(120);
    fetchAt(12);
    clock_.advance(120);
    fetchAt(13);
    EXPECT_EQ(store.calendar().timeZoneIdentifier(), "America/New_York");
    const auto& rhythm = store.archive().rhythms.at("Codex|Codex-0");
    EXPECT_EQ(rhythm.timeZoneIdentifier, "America/New_York");
    EXPECT_FALSE(rhythm.hours.empty());
    EXPECT_EQ(delegate->panelContent()->calendar().timeZoneIdentifier(), "America/New_York");
    EXPECT_EQ(delegate->board().calendar().timeZoneIdentifier(), "America/New_York");
    ASSERT_FALSE(publisher_->zones.empty());
    EXPECT_EQ(publisher_->zones.back(), "America/New_York");
    // The badge waited under the open panel; closed, it tells the reset in New York's time.
    delegate->togglePanel();
    EXPECT_NE(toolTip().find("04:00"), std::string::npos) << toolTip();
    EXPECT_EQ(toolTip().find("12:00"), std::string::npos) << toolTip();
}

// A change of the system's zone, once noticed, is a new snapshot at once: the tray's tool
// tips, the notifier, the status file and the open panel show it without a fetch.
TEST_F(DesktopCoordinatorTest, TimeZoneChangeReachesEveryReaderWithoutARefresh) {
    testing::TempDirectory folder;
    history::UsageHistoryStore store(folder.path() / "usage-history-v1.json", clock_.now(),
                                     platform::Calendar("Europe/Moscow"));
    StoreBackedHistory stored(store, clock_);
    std::string zone = "Europe/Moscow";
    TimeZoneWatch watch(store.calendar(), [&zone] { return zone; });
    UsageNotifier notifier(settingsStore_, NotificationStateFile(folder.path() / "state.json"),
                           [](const UsageNotification&) {});
    enableOnly({ProviderKind::codex});
    const auto delegate = build({.history = &stored, .notifier = &notifier, .timeZone = &watch});
    // The window resets at 09:00 UTC: 12:00 in Moscow, 04:00 in New York, 18:00 in Tokyo.
    ProviderUsage codex = usage(ProviderKind::codex, {10});
    codex.updatedAt = clock_.now();
    codex.windows.front().resetsAt =
        *platform::Calendar("UTC").startOfDay(clock_.now()) + 86400 + 9 * 3600;
    fetch_.answer(FetchResult::success(codex));
    delegate->start();
    runner_.finishAll();
    const auto toolTip = [&] { return trayIcons_.shown.back().entries.front().toolTip; };
    EXPECT_NE(toolTip().find("12:00"), std::string::npos) << toolTip();
    const std::size_t fetches = fetch_.calls().size();
    const std::size_t published = publisher_->published.size();

    zone = "America/New_York";
    delegate->checkTimeZone();
    EXPECT_NE(toolTip().find("04:00"), std::string::npos) << toolTip();
    ASSERT_EQ(publisher_->published.size(), published + 1);
    EXPECT_EQ(publisher_->zones.back(), "America/New_York");
    ASSERT_TRUE(notifier.lastSnapshot());
    EXPECT_EQ(notifier.lastSnapshot()->calendar.timeZoneIdentifier(), "America/New_York");

    delegate->togglePanel();
    ASSERT_TRUE(delegate->panelContent());
    zone = "Asia/Tokyo";
    delegate->checkTimeZone();
    EXPECT_EQ(delegate->panelContent()->calendar().timeZoneIdentifier(), "Asia/Tokyo");
    EXPECT_EQ(delegate->panelContent()->outlooks(), delegate->board().snapshot().get());
    EXPECT_EQ(publisher_->zones.back(), "Asia/Tokyo");
    // Not one fetch for any of it.
    EXPECT_EQ(fetch_.calls().size(), fetches);
    EXPECT_EQ(runner_.pending(), 0u);
    // The tray waited under the open panel; closed, it tells the reset in Tokyo's time.
    delegate->togglePanel();
    EXPECT_NE(toolTip().find("18:00"), std::string::npos) << toolTip();
}

// One refresh makes one snapshot, and every reader — tray icons, notifier, status file and the
// open panel — reads that very snapshot, once.
TEST_F(DesktopCoordinatorTest, OneRefreshIsOneSnapshotThatEveryReaderReadsOnce) {
    testing::TempDirectory folder;
    int told = 0;
    UsageNotifier notifier(settingsStore_, NotificationStateFile(folder.path() / "state.json"),
                           [&told](const UsageNotification&) { ++told; });
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    const auto delegate = build({.notifier = &notifier});
    delegate->start();
    runner_.finishAll();
    const std::size_t made = delegate->board().snapshotsMade();
    const std::size_t published = publisher_->published.size();
    const std::size_t drawn = trayIcons_.shown.size();

    clock_.advance(120);
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {85})));
    refreshNow(*delegate);
    EXPECT_EQ(delegate->board().snapshotsMade(), made + 1);
    EXPECT_EQ(publisher_->published.size(), published + 1);
    EXPECT_EQ(trayIcons_.shown.size(), drawn + 1);
    EXPECT_EQ(notifier.lastSnapshot(), delegate->board().snapshot());
    EXPECT_EQ(told, 0);

    // With the panel open it reads the refresh's snapshot too (the icons wait under it).
    delegate->togglePanel();
    clock_.advance(120);
    refreshNow(*delegate);
    EXPECT_EQ(delegate->board().snapshotsMade(), made + 2);
    EXPECT_EQ(publisher_->published.size(), published + 2);
    EXPECT_EQ(delegate->panelContent()->outlooks(), delegate->board().snapshot().get());
    EXPECT_EQ(notifier.lastSnapshot(), delegate->board().snapshot());
    delegate->togglePanel();
}

// However many readers there are (badge, notifications, status file, open panel), each window
// of a refresh is forecast once, by the board, and the history is written once.
TEST_F(DesktopCoordinatorTest, EachWindowIsForecastOncePerRefresh) {
    testing::TempDirectory folder;
    UsageNotifier notifier(settingsStore_, NotificationStateFile(folder.path() / "state.json"),
                           [](const UsageNotification&) {});
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    const auto delegate = build({.notifier = &notifier});
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20, 40})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {50})));
    delegate->start();
    delegate->togglePanel();
    ASSERT_TRUE(delegate->panelContent());
    const std::size_t before = delegate->board().outlooksComputed();
    runner_.finishAll();
    EXPECT_EQ(delegate->board().outlooksComputed(), before + 3);
    EXPECT_EQ(history_.records, 1);
    EXPECT_EQ(history_.recorded.size(), 2u);
    EXPECT_EQ(publisher_->published.size(), 2u);
    EXPECT_EQ(notifier.state().size(), 3u);

    // The panel renders again on its own: it reads the same outlooks.
    delegate->panelContent()->toggleMode();
    delegate->panelContent()->toggleMode();
    clock_.advance(60);
    refreshNow(*delegate);
    EXPECT_EQ(delegate->board().outlooksComputed(), before + 6);
    EXPECT_EQ(history_.records, 2);
    delegate->togglePanel();
}

// The settings screen only tells what was chosen; the coordinator stores it.
TEST_F(DesktopCoordinatorTest, SettingsChosenInThePanelAreStoredByTheCoordinator) {
    int tintChanges = 0;
    const auto delegate = build();
    QObject::connect(delegate.get(), &DesktopCoordinator::trayIconStyleChanged,
                     [&tintChanges] { ++tintChanges; });
    delegate->togglePanel();
    auto* controller = delegate->panelContent();
    ASSERT_TRUE(controller);
    controller->notificationsToggled(false);
    controller->notifyBelowSelected(30);
    controller->notifyCriticalSelected(10);
    controller->trayIconStyleSelected(2);
    const ProviderPreferences preferences(settingsStore_);
    EXPECT_FALSE(preferences.notificationsEnabled());
    EXPECT_EQ(preferences.notificationThresholds(), (NotificationThresholds{30, 10}));
    EXPECT_EQ(preferences.trayIconStyle(), TrayIconStyle::dark);
    EXPECT_EQ(tintChanges, 1);
    delegate->togglePanel();
}

// The open panel follows the portal's scheme and the user's choice as they change: the same
// panel and controller, every surface drawn in the new colours.
TEST_F(DesktopCoordinatorTest, OpenPanelFollowsThePortalAndTheUsersAppearance) {
    const auto delegate = build();
    delegate->setDesktopPrefersDark(true);
    delegate->togglePanel();
    ui::PanelWindow* panel = delegate->panel();
    ui::PanelContent* controller = delegate->panelContent();
    ASSERT_TRUE(panel && controller);
    QCoreApplication::processEvents();
    // The backdrop's left margin, and the title's ink.
    const auto backdrop = [&] {
        return panel->grab().toImage().pixelColor(6, panel->height() - 40);
    };
    // The floating panel's backdrop is a touch translucent: its colour comes back rounded.
    const auto near = [](QColor shown, QColor expected) {
        return std::abs(shown.red() - expected.red()) <= 2 &&
               std::abs(shown.green() - expected.green()) <= 2 &&
               std::abs(shown.blue() - expected.blue()) <= 2;
    };
    const auto title = [&] {
        return controller->findChild<QLabel*>(QStringLiteral("title"))
                   ->palette()
                   .color(QPalette::WindowText)
                   .rgb() &
               0xFFFFFF;
    };
    const auto expect = [&](bool dark) {
        EXPECT_EQ(ui::PanelTheme::isDark(panel->palette()), dark);
        EXPECT_PRED2(near, backdrop(), ui::PanelTheme::background().resolve(dark));
        EXPECT_EQ(title(), ui::PanelTheme::muted().resolve(dark).rgb() & 0xFFFFFF);
    };
    {
        SCOPED_TRACE("portal dark at opening");
        expect(true);
    }
    delegate->setDesktopPrefersDark(false);
    {
        SCOPED_TRACE("portal turned light");
        expect(false);
    }
    delegate->setDesktopPrefersDark(std::nullopt);
    controller->panelAppearanceSelected(2);
    {
        SCOPED_TRACE("the user chose dark");
        EXPECT_EQ(ProviderPreferences(settingsStore_).panelAppearance(), PanelAppearance::dark);
        expect(true);
    }
    delegate->setDesktopPrefersDark(false);
    {
        SCOPED_TRACE("the user's choice outweighs the portal");
        expect(true);
    }
    controller->panelAppearanceSelected(0);
    {
        SCOPED_TRACE("back to the system: the portal's light");
        EXPECT_EQ(ProviderPreferences(settingsStore_).panelAppearance(), PanelAppearance::system);
        expect(false);
    }
    EXPECT_EQ(delegate->panel(), panel);
    EXPECT_EQ(delegate->panelContent(), controller);
    delegate->togglePanel();
}

// The services screen's requests reach its controller, and what it finds reaches the panel.
TEST_F(DesktopCoordinatorTest, ServicesScreenIsServedByItsController) {
    listed_ = {{.pid = 100, .name = "node", .ports = {3000}, .startToken = "Mon Jan  1"}};
    delegate_->togglePanel();
    auto* controller = delegate_->panelContent();
    ASSERT_TRUE(controller);
    controller->showServices();
    EXPECT_TRUE(delegate_->localServices().isScanRunning());
    EXPECT_TRUE(controller->localServices().isLoading);
    runner_.finishAll();
    EXPECT_EQ(controller->localServices().services, listed_);
    EXPECT_FALSE(controller->localServices().isLoading);
    delegate_->togglePanel();
}

// Only fresh usage of an enabled provider reaches the notifications; a failed fetch, whose
// figures are the old ones, tells nothing, and neither does the switch being off.
TEST_F(DesktopCoordinatorTest, FreshUsageOfEnabledProvidersReachesTheNotifications) {
    testing::TempDirectory folder;
    std::vector<std::string> told;
    UsageNotifier notifier(settingsStore_, NotificationStateFile(folder.path() / "state.json"),
                           [&told](const UsageNotification& each) { told.push_back(each.title); });
    const auto delegate = build({.notifier = &notifier});
    enableOnly({ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {70})));
    refreshNow(*delegate);
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {85})));
    refreshNow(*delegate);
    EXPECT_EQ(told, (std::vector<std::string>{"Claude: осталось меньше 20%"}));

    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Не удалось подключиться к серверу."));
    refreshNow(*delegate);
    EXPECT_EQ(told.size(), 1u);

    ProviderPreferences(settingsStore_).setNotificationsEnabled(false);
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {97})));
    refreshNow(*delegate);
    EXPECT_EQ(told.size(), 1u);
    // Tracked while off: switching on again brings no old news.
    ProviderPreferences(settingsStore_).setNotificationsEnabled(true);
    refreshNow(*delegate);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(notifier.state().at("Claude/Claude-0").level, NotifiedWindowState::Level::critical);
}

}  // namespace
}  // namespace kestrane::app
