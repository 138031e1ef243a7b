#include "app/board/ProviderBoard.h"

#include <atomic>

#include <gtest/gtest.h>

#include "app/board/UsageNotifier.h"
#include "app/status/StatusFile.h"
#include "app/status/StatusFileWriter.h"
#include "platform/SettingsStore.h"
#include "support/FixedClock.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

using model::FetchResult;
using model::ProviderKind;
using model::ProviderUsage;

// 2025-03-10 (a Monday) 10:30 in Moscow.
constexpr platform::Date kNow{1'741'591'800};
constexpr double kHour = 3600;

// A history that behaves like the store where the board is concerned: every window has one
// fresh sample, and the rhythm (a steady point an hour, ten whole days) is learned in the
// zone it was last told, so a forecast needs the board to pass the user's zone on.
class ZoneHistory final : public BoardHistory {
  public:
    explicit ZoneHistory(platform::Calendar calendar) : calendar_(std::move(calendar)) {}

    void pruneExpired(platform::Date) override {}
    void record(const std::vector<ProviderUsage>& usages) override { recorded.push_back(usages); }
    std::optional<std::string> persistenceError() const override { return std::nullopt; }
    std::optional<history::UsageSeries> series(ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date now) const override {
        return history::UsageSeries{provider,
                                    window.id,
                                    std::string(64, 'a'),
                                    window.durationMinutes,
                                    window.resetsAt,
                                    {{now - 60, window.usedPercent, true, std::nullopt}}};
    }
    std::optional<history::RhythmHistory> rhythm(ProviderKind,
                                                 const model::LimitWindow&) const override {
        history::RhythmHistory rhythm{
            std::string(64, 'a'), 10080, calendar_.timeZoneIdentifier(), {}};
        const platform::Date today = *calendar_.startOfDay(kNow);
        for (platform::Date hour = *calendar_.addingDays(today, -10); hour < today;) {
            const auto interval = *calendar_.hourInterval(hour);
            rhythm.hours.push_back(history::RhythmHour{interval.start, 1, 3600});
            hour = interval.end;
        }
        return rhythm;
    }
    void setCalendar(platform::Calendar calendar) override {
        zones.push_back(calendar.timeZoneIdentifier());
        calendar_ = std::move(calendar);
    }

    std::vector<std::vector<ProviderUsage>> recorded;
    std::vector<std::string> zones;

  private:
    platform::Calendar calendar_;
};

model::LimitWindow window(std::string id, double used, double resetIn = 30 * kHour) {
    return {.id = std::move(id),
            .name = "Неделя",
            .usedPercent = used,
            .durationMinutes = 10080,
            .resetsAt = kNow + resetIn};
}

ProviderUsage usage(ProviderKind provider, std::vector<model::LimitWindow> windows) {
    return {.provider = provider, .windows = std::move(windows), .updatedAt = kNow - 60};
}

class ProviderBoardTest : public ::testing::Test {
  protected:
    platform::Calendar moscow_{"Europe/Moscow"};
    ZoneHistory history_{moscow_};
    ProviderBoard board_{history_, moscow_, {ProviderKind::codex, ProviderKind::claude}};
};

TEST_F(ProviderBoardTest, TakesAWholeRefreshInOneStep) {
    const ProviderUsage codex =
        usage(ProviderKind::codex, {window("five", 10), window("week", 30)});
    const auto fresh = board_.applyRefresh(
        {FetchResult::success(codex), FetchResult::failure(ProviderKind::claude, "Нет сети."),
         // Switched off while it was fetched: neither recorded nor kept.
         FetchResult::success(usage(ProviderKind::cursor, {window("cursor", 5)}))},
        kNow);
    EXPECT_EQ(fresh, std::vector{ProviderKind::codex});
    ASSERT_EQ(history_.recorded.size(), 1u);
    EXPECT_EQ(history_.recorded.front(), std::vector{codex});
    EXPECT_EQ(board_.state(ProviderKind::codex), (ProviderState{codex, std::nullopt}));
    EXPECT_EQ(board_.state(ProviderKind::claude), (ProviderState{std::nullopt, "Нет сети."}));
    EXPECT_EQ(board_.state(ProviderKind::cursor), ProviderState{});

    // Every window of the enabled providers, in the usage's order; nothing of the others.
    const BoardProvider* codexOutlook = board_.outlook(ProviderKind::codex);
    ASSERT_TRUE(codexOutlook);
    ASSERT_EQ(codexOutlook->windows.size(), 2u);
    EXPECT_EQ(codexOutlook->window(1, "week"), &codexOutlook->windows[1]);
    EXPECT_EQ(codexOutlook->window(1, "five"), nullptr);
    EXPECT_TRUE(codexOutlook->windows[0].series);
    EXPECT_TRUE(codexOutlook->windows[0].rhythm);
    ASSERT_TRUE(codexOutlook->windows[0].outlook.forecast);
    EXPECT_TRUE(codexOutlook->windows[0].insight);
    EXPECT_TRUE(codexOutlook->service.isFresh);
    ASSERT_TRUE(board_.outlook(ProviderKind::claude));
    EXPECT_TRUE(board_.outlook(ProviderKind::claude)->windows.empty());
    EXPECT_FALSE(board_.outlook(ProviderKind::cursor));

    // A failure keeps the last good usage beside its message; its figures are old, so no
    // forecast, and the history is not written.
    board_.applyRefresh({FetchResult::failure(ProviderKind::codex, "Сервис недоступен.")},
                        kNow + 60);
    EXPECT_EQ(history_.recorded.size(), 1u);
    EXPECT_EQ(board_.state(ProviderKind::codex).usage, codex);
    EXPECT_EQ(board_.state(ProviderKind::codex).error, "Сервис недоступен.");
    ASSERT_EQ(board_.outlook(ProviderKind::codex)->windows.size(), 2u);
    EXPECT_FALSE(board_.outlook(ProviderKind::codex)->windows[0].outlook.forecast);
    EXPECT_FALSE(board_.outlook(ProviderKind::codex)->service.isFresh);
}

// Every change makes one snapshot, told once to every observer, which a reader may keep:
// the board never changes a snapshot it handed out.
TEST_F(ProviderBoardTest, EachChangeIsOneSnapshotToldOnceToEveryObserver) {
    struct Recorder final : BoardObserver {
        void boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) override {
            seen.push_back(snapshot);
        }
        std::vector<std::shared_ptr<const BoardSnapshot>> seen;
    } first, second;
    board_.addObserver(first);
    board_.addObserver(second);
    const std::size_t made = board_.snapshotsMade();

    board_.applyRefresh({FetchResult::success(usage(ProviderKind::codex, {window("five", 10)})),
                         FetchResult::failure(ProviderKind::claude, "Нет сети.")},
                        kNow);
    ASSERT_EQ(first.seen.size(), 1u);
    EXPECT_EQ(board_.snapshotsMade(), made + 1);
    EXPECT_EQ(first.seen.front(), board_.snapshot());
    EXPECT_EQ(second.seen, first.seen);
    // The providers fresh from that refresh come with it.
    EXPECT_EQ(first.seen.front()->fresh, std::vector{ProviderKind::codex});
    EXPECT_EQ(first.seen.front()->state(ProviderKind::claude).error, "Нет сети.");
    EXPECT_EQ(first.seen.front()->madeAt, kNow);

    // Nothing changes with the same enabled set; a new zone is a new snapshot at once.
    board_.setEnabled({ProviderKind::codex, ProviderKind::claude}, kNow + 60);
    EXPECT_EQ(first.seen.size(), 1u);
    board_.setCalendar(platform::Calendar("America/New_York"), kNow + 60);
    ASSERT_EQ(first.seen.size(), 2u);
    EXPECT_EQ(first.seen.back()->calendar.timeZoneIdentifier(), "America/New_York");
    EXPECT_TRUE(first.seen.back()->fresh.empty());
    EXPECT_EQ(first.seen.front()->calendar.timeZoneIdentifier(), "Europe/Moscow");

    // A removed observer hears nothing more; announcing tells the current one again.
    board_.removeObserver(second);
    board_.announce();
    EXPECT_EQ(first.seen.size(), 3u);
    EXPECT_EQ(first.seen.back(), first.seen[1]);
    EXPECT_EQ(second.seen.size(), 2u);
    EXPECT_EQ(board_.snapshotsMade(), made + 2);
}

// The board forecasts each window once per refresh; its readers only read.
TEST_F(ProviderBoardTest, EachWindowIsForecastOncePerRefresh) {
    testing::TempDirectory folder;
    platform::MemorySettingsStore settingsStore;
    UsageNotifier notifier(settingsStore, NotificationStateFile(folder.path() / "state.json"), {});
    const testing::FixedClock clock(kNow);
    StatusFileWriter status(folder.path() / "status.json", clock);
    board_.addObserver(notifier);
    board_.addObserver(status);

    const auto refresh = [&](platform::Date now) {
        board_.applyRefresh(
            {FetchResult::success(
                 usage(ProviderKind::codex, {window("five", 10), window("week", 30)})),
             FetchResult::success(usage(ProviderKind::claude, {window("week", 95)}))},
            now);
    };
    refresh(kNow);
    EXPECT_EQ(board_.outlooksComputed(), 3u);
    EXPECT_EQ(history_.recorded.size(), 1u);
    // Claude is nearly spent and Codex is not: the line every reader shows is made once too.
    ASSERT_TRUE(board_.recommendation());
    EXPECT_EQ(board_.recommendation()->provider, ProviderKind::codex);
    const auto written = StatusFile::readLive(folder.path() / "status.json");
    ASSERT_TRUE(written);
    ASSERT_TRUE(written->recommendation);
    EXPECT_EQ(written->recommendation->text, board_.recommendation()->text);
    ASSERT_TRUE(written->providers[0].forecast);
    EXPECT_EQ(written->providers[0].forecast->verdict,
              board_.outlook(ProviderKind::codex)->windows[0].insight->title);
    EXPECT_EQ(notifier.state().size(), 3u);

    refresh(kNow + 120);
    EXPECT_EQ(board_.outlooksComputed(), 6u);

    // The same enabled set changes nothing; another one is read again at once.
    board_.setEnabled({ProviderKind::codex, ProviderKind::claude}, kNow + 120);
    EXPECT_EQ(board_.outlooksComputed(), 6u);
    board_.setEnabled({ProviderKind::claude}, kNow + 120);
    EXPECT_EQ(board_.outlooksComputed(), 7u);
    EXPECT_FALSE(board_.outlook(ProviderKind::codex));
    EXPECT_FALSE(board_.recommendation());
}

// After a change of the system's zone, the history learns in it and the notifications and the
// status file say the moment the limit may run out in it.
TEST_F(ProviderBoardTest, TimeZoneChangeReachesTheNotificationsAndTheStatusFile) {
    testing::TempDirectory folder;
    platform::MemorySettingsStore settingsStore;
    std::vector<UsageNotification> told;
    UsageNotifier notifier(settingsStore, NotificationStateFile(folder.path() / "state.json"),
                           [&told](const UsageNotification& each) { told.push_back(each); });
    const testing::FixedClock clock(kNow);
    StatusFileWriter status(folder.path() / "status.json", clock);
    board_.addObserver(notifier);
    board_.addObserver(status);
    const auto refresh = [&](double used, platform::Date now) {
        board_.applyRefresh(
            {FetchResult::success(usage(ProviderKind::claude, {window("week", used)}))}, now);
    };
    // Plenty left: seen, nothing told.
    refresh(0, kNow);
    EXPECT_TRUE(told.empty());

    const platform::Calendar newYork("America/New_York");
    board_.setCalendar(newYork, kNow + 60);
    EXPECT_EQ(history_.zones, std::vector<std::string>{"America/New_York"});
    EXPECT_EQ(board_.calendar().timeZoneIdentifier(), "America/New_York");

    // Most of it spent at the usual pace: the limit runs out before the reset.
    refresh(80, kNow + 120);
    const BoardWindow* week = board_.outlook(ProviderKind::claude)->badge();
    ASSERT_TRUE(week);
    ASSERT_TRUE(week->outlook.forecast);
    ASSERT_TRUE(week->outlook.forecast->medianExhaustionDate);
    const platform::Date runsOut = *week->outlook.forecast->medianExhaustionDate;
    const std::string there = newYork.format(runsOut, "HH:mm");
    const std::string before = moscow_.format(runsOut, "HH:mm");
    ASSERT_NE(there, before);

    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told.front().kind, UsageNotification::Kind::shortage);
    EXPECT_NE(told.front().title.find(there), std::string::npos) << told.front().title;
    EXPECT_EQ(told.front().title.find(before), std::string::npos) << told.front().title;

    const auto written = StatusFile::readLive(folder.path() / "status.json");
    ASSERT_TRUE(written);
    ASSERT_TRUE(written->providers[2].forecast);
    const std::string& outcome = written->providers[2].forecast->outcome;
    EXPECT_NE(outcome.find(there), std::string::npos) << outcome;
    EXPECT_EQ(outcome.find(before), std::string::npos) << outcome;
}

}  // namespace
}  // namespace kestrane::app

namespace kestrane::app {
namespace {

TEST_F(ProviderBoardTest, PaceOfEachFreshWindow) {
    board_.applyRefresh({FetchResult::success(usage(ProviderKind::codex, {window("week", 10)})),
                         FetchResult::success(usage(ProviderKind::claude, {window("week", 95)}))},
                        kNow);
    // 138 of 168 hours gone: 82 % of the week against 10 % used.
    const auto& codexWindow = board_.outlook(ProviderKind::codex)->windows.front();
    ASSERT_TRUE(codexWindow.pace);
    EXPECT_EQ(codexWindow.pace->roundedDifference(), -72);
    ASSERT_TRUE(board_.outlook(ProviderKind::claude)->windows.front().pace);
    EXPECT_EQ(board_.outlook(ProviderKind::claude)->windows.front().pace->roundedDifference(), 13);
    // Track records are off until the application turns them on.
    EXPECT_FALSE(codexWindow.trackRecord);

    // Old figures say nothing about the pace now.
    board_.applyRefresh({FetchResult::failure(ProviderKind::codex, "Нет сети.")}, kNow + 60);
    EXPECT_FALSE(board_.outlook(ProviderKind::codex)->windows.front().pace);
}

TEST_F(ProviderBoardTest, TrackRecordsAreWorkedOutOncePerChangeOfPastCycles) {
    const auto refresh = [&](platform::Date now) {
        board_.applyRefresh({FetchResult::success(usage(ProviderKind::codex,
                                                        {window("five", 10), window("week", 30)}))},
                            now);
        return board_.outlook(ProviderKind::codex);
    };
    board_.setTrackRecords(std::make_unique<TrackRecordCache>(false), kNow);
    const BoardProvider* codex = refresh(kNow);
    ASSERT_EQ(codex->windows.size(), 2u);
    ASSERT_TRUE(codex->windows[0].trackRecord);
    // One sample is no past cycle, and a week's cycles never fit the kept history: no figure.
    EXPECT_EQ(*codex->windows[0].trackRecord, (forecast::BacktestResult{0, std::nullopt, true}));
    EXPECT_EQ(board_.trackRecords()->runs(), 2u);
    // A new sample in the running cycle changes nothing the record depends on.
    refresh(kNow + 60);
    EXPECT_EQ(board_.trackRecords()->runs(), 2u);
}

TEST_F(ProviderBoardTest, BackgroundTrackRecordsNeverHoldARefreshUp) {
    std::atomic<int> finished = 0;
    board_.setTrackRecords(std::make_unique<TrackRecordCache>(true, [&] { ++finished; }), kNow);
    const auto refresh = [&](platform::Date now) {
        board_.applyRefresh(
            {FetchResult::success(usage(ProviderKind::codex, {window("five", 10)}))}, now);
        return board_.outlook(ProviderKind::codex)->windows.front().trackRecord;
    };
    // The first refresh asks for the record and does not wait for it.
    EXPECT_FALSE(refresh(kNow));
    board_.trackRecords()->wait();
    EXPECT_EQ(board_.trackRecords()->runs(), 1u);
    // The owner hears once that it is done and reads it without a refresh.
    EXPECT_EQ(finished, 1);
    const std::size_t computed = board_.outlooksComputed();
    board_.updateTrackRecords(kNow);
    EXPECT_EQ(board_.outlooksComputed(), computed);
    EXPECT_EQ(board_.outlook(ProviderKind::codex)->windows.front().trackRecord,
              (forecast::BacktestResult{0, std::nullopt, true}));
    // The next refresh reads the finished record and asks for no new one.
    EXPECT_EQ(refresh(kNow + 60), (forecast::BacktestResult{0, std::nullopt, true}));
    board_.trackRecords()->wait();
    EXPECT_EQ(finished, 1);
}

TEST(TrackRecordCacheTest, FingerprintFollowsPastCyclesOnly) {
    using history::UsageSample;
    using history::UsageTransition;
    history::UsageSeries series{ProviderKind::codex, "five", std::string(64, 'a'), 300,
                                kNow + kHour,        {}};
    series.samples.push_back(UsageSample{kNow - 3 * kHour, 40, true, std::nullopt});
    series.samples.push_back(
        UsageSample{kNow - 2 * kHour, 0, true,
                    UsageTransition{kNow - 2 * kHour - 30, UsageTransition::Kind::reset, false}});
    const std::string base = TrackRecordCache::fingerprint(series, std::nullopt);
    auto later = series;
    later.samples.push_back(UsageSample{kNow, 5, false, std::nullopt});
    EXPECT_EQ(TrackRecordCache::fingerprint(later, std::nullopt), base);
    auto reset = later;
    reset.samples.push_back(
        UsageSample{kNow + 2 * kHour, 0, true,
                    UsageTransition{kNow + kHour, UsageTransition::Kind::reset, false}});
    EXPECT_NE(TrackRecordCache::fingerprint(reset, std::nullopt), base);
    auto trimmed = series;
    trimmed.samples.erase(trimmed.samples.begin() + 1);
    EXPECT_NE(TrackRecordCache::fingerprint(trimmed, std::nullopt), base);
    auto otherAccount = series;
    otherAccount.accountDigest = std::string(64, 'b');
    EXPECT_NE(TrackRecordCache::fingerprint(otherAccount, std::nullopt), base);
    history::RhythmHistory rhythm{std::string(64, 'a'), 300, "Europe/Moscow", {}};
    EXPECT_NE(TrackRecordCache::fingerprint(series, rhythm), base);
}

}  // namespace
}  // namespace kestrane::app
