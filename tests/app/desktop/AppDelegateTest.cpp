#include "app/desktop/AppDelegate.h"

#include <deque>
#include <mutex>
#include <stdexcept>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "app/board/StoredUsageHistory.h"
#include "app/board/TimeZoneWatch.h"
#include "history/UsageHistoryStore.h"
#include "platform/Calendar.h"
#include "platform/PreferencesStore.h"
#include "support/FixedClock.h"
#include "support/TempDirectory.h"
#include "ui/QuotaPanel.h"
#include "ui/QuotaPopoverViewController.h"

namespace kestrane::app {
namespace {

using model::FetchResult;
using model::ProviderKind;
using model::ProviderUsage;
using Content = ui::MenuBarBadgeRenderer::Content;

// Background work waits until the test lets it run, then runs right here.
class ManualRunner {
  public:
    BackgroundRunner runner() {
        return [this](std::function<void()> work, std::function<void()> done) {
            jobs_.push_back({std::move(work), std::move(done)});
        };
    }
    std::size_t pending() const { return jobs_.size(); }
    void finishOne() {
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        job.first();
        job.second();
    }
    void finishAll() {
        while (!jobs_.empty()) finishOne();
    }

  private:
    std::deque<std::pair<std::function<void()>, std::function<void()>>> jobs_;
};

class FakeStatusItem final : public StatusItem {
  public:
    void show(const Content& content) override { shown.push_back(content); }
    std::optional<QRect> geometry() const override { return QRect(300, 0, 44, 22); }
    bool isAvailable() const override { return available; }

    std::vector<Content> shown;
    bool available = true;
};

class FakeHistory final : public UsageHistory {
  public:
    void pruneExpired(platform::Date) override { ++prunes; }
    void record(const ProviderUsage& usage) override { recorded.push_back(usage); }
    void record(const std::vector<ProviderUsage>& usages) override {
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
    std::vector<std::string> calendars;
    std::vector<ProviderUsage> recorded;
    std::optional<std::string> error;
};

// Keeps what the delegate leaves for `kestrane --status`.
class RecordingPublisher final : public StatusPublisher {
  public:
    void publish(const std::vector<ProviderKind>& enabled,
                 const std::map<ProviderKind, ProviderState>& states, const UsageHistory&,
                 platform::Date) override {
        published.push_back({enabled, states});
    }
    void withdraw() override { ++withdrawals; }

    std::vector<std::pair<std::vector<ProviderKind>, std::map<ProviderKind, ProviderState>>>
        published;
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

class AppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override { makeDelegate(); }
    void TearDown() override {
        delegate_.reset();
        // Panels closed during a test go on the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void makeDelegate(std::vector<std::string> arguments = {}) {
        delegate_ = std::make_unique<AppDelegate>(AppDelegate::Dependencies{
            .defaults = defaults_,
            .clock = clock_,
            .history = history_,
            .statusItem = statusItem_,
            .fetch = [this](ProviderKind kind) { return fetch_(kind); },
            .runInBackground = runner_.runner(),
            .localServices = {.scan = [this] { return LocalServiceScan{.services = scan()}; },
                              .stop = [this](const LocalService& service) { stop(service); },
                              .pause = [this](double seconds) { pauses_.push_back(seconds); }},
            .arguments = std::move(arguments),
            .quit = [this] { ++quits_; },
            .status = publisher_,
        });
    }

    void enableOnly(std::initializer_list<ProviderKind> kinds) {
        ProviderPreferences preferences(defaults_);
        for (const ProviderKind kind : model::allProviderKinds) {
            preferences.setEnabled(std::find(kinds.begin(), kinds.end(), kind) != kinds.end(),
                                   kind);
        }
    }
    // One refresh through to its end.
    void refreshNow() {
        delegate_->refresh();
        runner_.finishAll();
    }
    std::string badge() const {
        return statusItem_.shown.empty() ? "" : statusItem_.shown.back().accessibilityText();
    }
    void nextTurn() { QCoreApplication::processEvents(); }

    std::vector<LocalService> scan() {
        if (scanFailures_ > 0) {
            --scanFailures_;
            throw std::runtime_error("Не удалось получить список локальных TCP-сервисов.");
        }
        return listed_;
    }
    void stop(const LocalService& service) {
        stopped_.push_back(service);
        if (stopError_) throw std::runtime_error(*stopError_);
        if (!ignoresSigterm_) std::erase(listed_, service);
    }

    platform::MemoryPreferencesStore defaults_;
    testing::FixedClock clock_;
    FakeHistory history_;
    FakeStatusItem statusItem_;
    FakeFetch fetch_;
    ManualRunner runner_;
    std::shared_ptr<RecordingPublisher> publisher_ = std::make_shared<RecordingPublisher>();
    std::unique_ptr<AppDelegate> delegate_;
    int quits_ = 0;

    std::vector<LocalService> listed_;
    std::vector<LocalService> stopped_;
    std::vector<double> pauses_;
    int scanFailures_ = 0;
    std::optional<std::string> stopError_;
    bool ignoresSigterm_ = false;
};

TEST_F(AppDelegateTest, EveryProviderDisabledStartsNoFetch) {
    enableOnly({});
    delegate_->applicationDidFinishLaunching();
    delegate_->backgroundRefresh();
    delegate_->workspaceDidWake();
    EXPECT_EQ(runner_.pending(), 0u);
    EXPECT_FALSE(delegate_->lastAttemptAt());
    // The history is pruned on every request, fetch or not.
    EXPECT_EQ(history_.prunes, 3);
    ASSERT_EQ(statusItem_.shown.size(), 1u);
    EXPECT_EQ(statusItem_.shown.back(), Content{});
}

TEST_F(AppDelegateTest, LaunchDrawsDashesThenTheFetchedValues) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::cursor, {62.5})));
    delegate_->applicationDidFinishLaunching();
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

TEST_F(AppDelegateTest, LeavesItsStateAfterLaunchEachRefreshAndSwitchAndWithdrawsAtTheEnd) {
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {20})));
    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Сессия Claude истекла."));
    delegate_->applicationDidFinishLaunching();
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
    delegate_->applicationWillTerminate();
    EXPECT_EQ(publisher_->withdrawals, 1);
}

TEST_F(AppDelegateTest, TicksDuringASlowRefreshAreDropped) {
    delegate_->applicationDidFinishLaunching();
    delegate_->backgroundRefresh();
    delegate_->backgroundRefresh();
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_EQ(fetch_.calls().size(), 2u);
    delegate_->backgroundRefresh();
    EXPECT_EQ(runner_.pending(), 1u);
}

TEST_F(AppDelegateTest, FailureKeepsTheLastGoodNumbersAndShowsTheMessage) {
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
    delegate_->togglePopover();
    ASSERT_TRUE(delegate_->popoverController());
    const auto& shown = delegate_->popoverController()->states().at(2);
    EXPECT_EQ(shown.error, limited);
    EXPECT_TRUE(shown.usage);

    // The next success clears the error.
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {70})));
    refreshNow();
    EXPECT_FALSE(delegate_->states().at(ProviderKind::claude).error);
}

TEST_F(AppDelegateTest, RemainingTextRoundsClampsAndFallsBack) {
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

TEST_F(AppDelegateTest, BadgeWaitsUnderTheOpenPanelAndIsDrawnOnceWhenItCloses) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    delegate_->applicationDidFinishLaunching();
    runner_.finishAll();
    const std::size_t drawn = statusItem_.shown.size();

    clock_.advance(120);
    delegate_->togglePopover();  // opens and refreshes: the last attempt is 2 minutes old
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {50})));
    runner_.finishAll();
    EXPECT_EQ(statusItem_.shown.size(), drawn);

    delegate_->togglePopover();  // closes
    EXPECT_FALSE(delegate_->popover());
    ASSERT_EQ(statusItem_.shown.size(), drawn + 1);
    EXPECT_EQ(badge(), "Codex 50% осталось, Cursor ! осталось");
    // Nothing changed since: nothing more is drawn.
    delegate_->renderStatusItem();
    EXPECT_EQ(statusItem_.shown.size(), drawn + 1);
}

TEST_F(AppDelegateTest, UsageOfAProviderDisabledDuringTheFetchIsDiscarded) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    fetch_.answer(FetchResult::success(usage(ProviderKind::cursor, {20})));
    delegate_->applicationDidFinishLaunching();
    delegate_->setProvider(ProviderKind::codex, false);
    runner_.finishAll();
    EXPECT_FALSE(delegate_->states().at(ProviderKind::codex).usage);
    ASSERT_EQ(history_.recorded.size(), 1u);
    EXPECT_EQ(history_.recorded.front().provider, ProviderKind::cursor);
    EXPECT_EQ(badge(), "Cursor 80% осталось");
}

TEST_F(AppDelegateTest, ProviderEnabledDuringARefreshWaitsForTheNextTrigger) {
    delegate_->applicationDidFinishLaunching();
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

TEST_F(AppDelegateTest, WakeRefreshesOnlyWhenTheLastAttemptIsFiveMinutesOld) {
    delegate_->applicationDidFinishLaunching();
    runner_.finishAll();
    clock_.advance(4 * 60);
    delegate_->workspaceDidWake();
    EXPECT_EQ(runner_.pending(), 0u);
    clock_.advance(2 * 60);
    delegate_->workspaceDidWake();
    EXPECT_EQ(runner_.pending(), 1u);
}

TEST_F(AppDelegateTest, OpeningThePanelRefreshesOnlyWhenTheLastAttemptIsAMinuteOld) {
    delegate_->applicationDidFinishLaunching();
    runner_.finishAll();
    clock_.advance(30);
    delegate_->togglePopover();
    EXPECT_EQ(runner_.pending(), 0u);
    delegate_->togglePopover();
    clock_.advance(60);
    delegate_->togglePopover();
    EXPECT_EQ(runner_.pending(), 1u);
    EXPECT_TRUE(delegate_->popoverController()->isRefreshing());
}

TEST_F(AppDelegateTest, MinuteTimerRunsOnlyWhileThePanelIsOpen) {
    delegate_->applicationDidFinishLaunching();
    EXPECT_FALSE(delegate_->visibleRefreshTimer());
    delegate_->togglePopover();
    ASSERT_TRUE(delegate_->visibleRefreshTimer());
    EXPECT_EQ(delegate_->visibleRefreshTimer()->interval(), 60'000);
    EXPECT_TRUE(delegate_->visibleRefreshTimer()->isActive());
    ASSERT_TRUE(delegate_->popover());
    EXPECT_TRUE(delegate_->popover()->isVisible());
    // The panel hangs under the status item.
    EXPECT_NEAR(delegate_->popover()->geometry().center().x(), 322, 1);

    delegate_->togglePopover();
    EXPECT_FALSE(delegate_->visibleRefreshTimer());
    EXPECT_TRUE(delegate_->refreshTimer()->isActive());

    delegate_->applicationWillTerminate();
    EXPECT_FALSE(delegate_->refreshTimer());
}

TEST_F(AppDelegateTest, PanelGetsFiveProviderStatesInCanonicalOrder) {
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {10})));
    delegate_->applicationDidFinishLaunching();
    runner_.finishAll();
    delegate_->setProvider(ProviderKind::codex, false);
    history_.error = "История доступна в этой сессии, но не сохраняется на диск.";
    clock_.advance(5);
    delegate_->togglePopover();
    const auto* controller = delegate_->popoverController();
    ASSERT_TRUE(controller);
    ASSERT_EQ(controller->states().size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(controller->states()[i].provider, model::allProviderKinds[i]);
    }
    // Disabled, with its last usage kept.
    EXPECT_FALSE(controller->states()[0].isEnabled);
    EXPECT_TRUE(controller->states()[0].usage);
    // The history maps are keyed by window id, for the windows that have history.
    ASSERT_EQ(controller->states()[0].history.size(), 1u);
    EXPECT_EQ(controller->states()[0].history.begin()->first, "Codex-0");
    EXPECT_TRUE(controller->states()[1].history.empty());
    EXPECT_TRUE(controller->states()[1].isEnabled);
    EXPECT_EQ(controller->historyError(), history_.error);
}

TEST_F(AppDelegateTest, StoredSelectionIsReadExactly) {
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
        defaults_.setValue("selectedProvider", testCase.stored);
        delegate_->togglePopover();
        ASSERT_TRUE(delegate_->popoverController());
        EXPECT_EQ(delegate_->popoverController()->selectedProvider(), testCase.selected);
        delegate_->togglePopover();
    }
}

TEST_F(AppDelegateTest, MenuClosesThePanelAndItsItemQuits) {
    delegate_->applicationDidFinishLaunching();
    delegate_->togglePopover();
    ASSERT_TRUE(delegate_->popover());
    statusItem_.onMenuWillShow();
    EXPECT_FALSE(delegate_->popover());
    statusItem_.onQuit();
    EXPECT_EQ(quits_, 1);
    // A left click on the item toggles the panel.
    statusItem_.onClick();
    EXPECT_TRUE(delegate_->popover());
}

TEST_F(AppDelegateTest, WithoutATrayThePanelOpensAsAWindowAndClosingItQuits) {
    statusItem_.available = false;
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate_->popover());
    EXPECT_EQ(delegate_->popover()->presentation(), ui::QuotaPanel::Presentation::window);
    EXPECT_TRUE(delegate_->popover()->isVisible());
    delegate_->popover()->close();
    EXPECT_EQ(quits_, 1);
}

TEST_F(AppDelegateTest, OnceATrayAppearedClosingTheWindowKeepsTheProgram) {
    statusItem_.available = false;
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate_->popover());
    // The panel came up before the tray; now the tray is there and shows the icons.
    statusItem_.available = true;
    delegate_->popover()->close();
    EXPECT_EQ(quits_, 0);
    // From now on the panel opens as the floating panel.
    statusItem_.onClick();
    ASSERT_TRUE(delegate_->popover());
    EXPECT_EQ(delegate_->popover()->presentation(), ui::QuotaPanel::Presentation::floating);
}

TEST_F(AppDelegateTest, ActivateOpensThePanelAndNeverClosesIt) {
    delegate_->applicationDidFinishLaunching();
    delegate_->activate();
    ASSERT_TRUE(delegate_->popover());
    ui::QuotaPanel* panel = delegate_->popover();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->presentation(), ui::QuotaPanel::Presentation::floating);
    delegate_->activate();
    EXPECT_EQ(delegate_->popover(), panel);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(AppDelegateTest, EveryTrayEntryCarriesItsOwnProvidersToolTip) {
    enableOnly({ProviderKind::codex, ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::codex, {63})));
    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Claude отвечает 429."));
    delegate_->applicationDidFinishLaunching();
    runner_.finishAll();
    ASSERT_FALSE(statusItem_.shown.empty());
    const Content& content = statusItem_.shown.back();
    ASSERT_EQ(content.entries.size(), 2u);
    EXPECT_TRUE(content.entries[0].toolTip.starts_with("Codex: осталось 37% (Сессия - 5 часов)"))
        << content.entries[0].toolTip;
    EXPECT_EQ(content.entries[1].toolTip, "Claude: Claude отвечает 429.");
    // The accessibility text of the whole badge stays as it was.
    EXPECT_EQ(content.accessibilityText(), "Codex 37% осталось, Claude ! осталось");
}

TEST_F(AppDelegateTest, RefreshFinishingAfterTheDelegateIsGoneDoesNothing) {
    delegate_->applicationDidFinishLaunching();
    delegate_.reset();
    runner_.finishAll();
    EXPECT_TRUE(history_.recorded.empty());
}

TEST_F(AppDelegateTest, SuccessesAreRecordedIntoTheStoreAndShownWithTheirSeries) {
    history::UsageHistoryStore store(std::nullopt, clock_.now(), platform::Calendar("UTC"));
    StoredUsageHistory stored(store, clock_);
    AppDelegate delegate(AppDelegate::Dependencies{
        .defaults = defaults_,
        .clock = clock_,
        .history = stored,
        .statusItem = statusItem_,
        .fetch = [this](ProviderKind kind) { return fetch_(kind); },
        .runInBackground = runner_.runner(),
        .quit = [] {},
    });
    ProviderUsage codex = usage(ProviderKind::codex, {25});
    codex.updatedAt = clock_.now();
    fetch_.answer(FetchResult::success(codex));
    delegate.refresh();
    runner_.finishAll();
    const auto series = store.series(ProviderKind::codex, codex.windows.front(), clock_.now());
    ASSERT_TRUE(series);
    EXPECT_EQ(series->samples.size(), 1u);

    delegate.togglePopover();
    ASSERT_TRUE(delegate.popoverController());
    const auto& codexState = delegate.popoverController()->states().front();
    ASSERT_EQ(codexState.history.count("Codex-0"), 1u);
    EXPECT_EQ(codexState.history.at("Codex-0"), *series);
    delegate.togglePopover();
}

// A change of the system's time zone reaches the history (hours learned in the new zone) and
// the open panel (dates and forecast in the new zone) at the next refresh.
TEST_F(AppDelegateTest, TimeZoneChangeReachesTheStoreAndThePanelAtTheNextRefresh) {
    testing::TempDirectory folder;
    history::UsageHistoryStore store(folder.path() / "usage-history-v1.json", clock_.now(),
                                     platform::Calendar("Europe/Moscow"));
    StoredUsageHistory stored(store, clock_);
    std::string zone = "Europe/Moscow";
    TimeZoneWatch watch(store.calendar(), [&zone] { return zone; });
    AppDelegate delegate(AppDelegate::Dependencies{
        .defaults = defaults_,
        .clock = clock_,
        .history = stored,
        .statusItem = statusItem_,
        .fetch = [this](ProviderKind kind) { return fetch_(kind); },
        .runInBackground = runner_.runner(),
        .quit = [] {},
        .timeZone = &watch,
    });
    const auto fetchAt = [&](double used) {
        ProviderUsage codex = usage(ProviderKind::codex, {used});
        codex.updatedAt = clock_.now();
        fetch_.answer(FetchResult::success(codex));
        delegate.refresh();
        runner_.finishAll();
    };
    fetchAt(10);
    delegate.togglePopover();
    runner_.finishAll();
    ASSERT_TRUE(delegate.popoverController());
    EXPECT_EQ(delegate.popoverController()->calendar().timeZoneIdentifier(), "Europe/Moscow");

    zone = "America/New_York";
    clock_.advance(120);
    fetchAt(12);
    clock_.advance(120);
    fetchAt(13);
    EXPECT_EQ(store.calendar().timeZoneIdentifier(), "America/New_York");
    const auto& rhythm = store.archive().rhythms.at("Codex|Codex-0");
    EXPECT_EQ(rhythm.timeZoneIdentifier, "America/New_York");
    EXPECT_FALSE(rhythm.hours.empty());
    EXPECT_EQ(delegate.popoverController()->calendar().timeZoneIdentifier(), "America/New_York");
    delegate.togglePopover();
}

LocalService service(std::int32_t pid, std::string name) {
    return {.pid = pid, .name = std::move(name), .ports = {3000}, .startToken = "Mon Jan  1"};
}

TEST_F(AppDelegateTest, ScanAndStopExcludeEachOther) {
    listed_ = {service(100, "node"), service(200, "vite")};
    delegate_->loadLocalServices();
    EXPECT_TRUE(delegate_->localServicesState().isLoading);
    delegate_->stopLocalService(listed_[0]);  // ignored: a scan runs
    delegate_->loadLocalServices();           // ignored too
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_TRUE(stopped_.empty());
    EXPECT_EQ(delegate_->localServicesState().services, listed_);
    EXPECT_EQ(delegate_->localServicesState().updatedAt, clock_.now());
    EXPECT_FALSE(delegate_->localServicesState().isLoading);

    const LocalService first = listed_[0];
    delegate_->stopLocalService(first);
    EXPECT_EQ(delegate_->localServicesState().stoppingServiceIDs,
              std::set<std::string>{first.id()});
    delegate_->stopLocalService(listed_[1]);  // a second stop while one runs: ignored
    delegate_->loadLocalServices();           // and a scan as well
    EXPECT_EQ(runner_.pending(), 1u);
    runner_.finishAll();
    EXPECT_EQ(stopped_, std::vector{first});
    EXPECT_EQ(pauses_, std::vector{0.6});
    EXPECT_EQ(delegate_->localServicesState().services, std::vector{service(200, "vite")});
    EXPECT_FALSE(delegate_->localServicesState().error);
    EXPECT_TRUE(delegate_->localServicesState().stoppingServiceIDs.empty());
}

TEST_F(AppDelegateTest, StopMessagesSurviveTheFollowUpRescan) {
    const std::string changed =
        "PID теперь принадлежит другому процессу. Список обновлен без остановки.";
    const struct {
        const char* name;
        std::optional<std::string> stopError;
        bool ignoresSigterm;
        int scanFailures;
        std::string message;
        std::size_t listedAfter;
    } cases[] = {
        {"refused, rescan works", changed, false, 0, changed, 2},
        {"refused, rescan fails too", changed, false, 1, changed, 0},
        {"process ignores SIGTERM", std::nullopt, true, 0,
         "SIGTERM отправлен, но процесс пока продолжает работать.", 2},
        {"rescan after the signal fails", std::nullopt, false, 1,
         "Не удалось получить список локальных TCP-сервисов.", 1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        makeDelegate();
        listed_ = {service(100, "node"), service(200, "vite")};
        stopError_ = testCase.stopError;
        ignoresSigterm_ = testCase.ignoresSigterm;
        scanFailures_ = testCase.scanFailures;
        delegate_->stopLocalService(listed_[0]);
        runner_.finishAll();
        const auto& state = delegate_->localServicesState();
        EXPECT_EQ(state.error, testCase.message);
        EXPECT_EQ(state.services.size(), testCase.listedAfter);
        EXPECT_TRUE(state.stoppingServiceIDs.empty());
        EXPECT_FALSE(delegate_->isLocalServiceActionRunning());
    }
}

TEST_F(AppDelegateTest, ScanFailureKeepsTheListAndShowsTheMessage) {
    listed_ = {service(100, "node")};
    delegate_->loadLocalServices();
    runner_.finishAll();
    scanFailures_ = 1;
    delegate_->loadLocalServices();
    runner_.finishAll();
    EXPECT_EQ(delegate_->localServicesState().error,
              "Не удалось получить список локальных TCP-сервисов.");
    EXPECT_EQ(delegate_->localServicesState().services.size(), 1u);
    EXPECT_FALSE(delegate_->localServicesState().isLoading);
}

// Only fresh usage of an enabled provider reaches the notifications; a failed fetch, whose
// figures are the old ones, tells nothing, and neither does the switch being off.
TEST_F(AppDelegateTest, FreshUsageOfEnabledProvidersReachesTheNotifications) {
    testing::TempDirectory folder;
    std::vector<std::string> told;
    UsageNotifier notifier(defaults_, history_, platform::Calendar("Europe/Moscow"),
                           NotificationStateFile(folder.path() / "state.json"),
                           [&told](const UsageNotification& each) { told.push_back(each.title); });
    delegate_ = std::make_unique<AppDelegate>(AppDelegate::Dependencies{
        .defaults = defaults_,
        .clock = clock_,
        .history = history_,
        .statusItem = statusItem_,
        .fetch = [this](ProviderKind kind) { return fetch_(kind); },
        .runInBackground = runner_.runner(),
        .notifier = &notifier,
    });
    enableOnly({ProviderKind::claude});
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {70})));
    refreshNow();
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {85})));
    refreshNow();
    EXPECT_EQ(told, (std::vector<std::string>{"Claude: осталось меньше 20%"}));

    fetch_.answer(FetchResult::failure(ProviderKind::claude, "Не удалось подключиться к серверу."));
    refreshNow();
    EXPECT_EQ(told.size(), 1u);

    ProviderPreferences(defaults_).setNotificationsEnabled(false);
    fetch_.answer(FetchResult::success(usage(ProviderKind::claude, {97})));
    refreshNow();
    EXPECT_EQ(told.size(), 1u);
    // Tracked while off: switching on again brings no old news.
    ProviderPreferences(defaults_).setNotificationsEnabled(true);
    refreshNow();
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(notifier.state().at("Claude/Claude-0").level, NotifiedWindowState::Level::critical);
}

}  // namespace
}  // namespace kestrane::app
