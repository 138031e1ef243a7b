#include "app/status/StatusFile.h"
#include "app/status/StatusFileWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/ProcessIdentity.h"
#include "support/FixedClock.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;

// A history without any observations: no forecast can be made. With `recentAt`, every window
// has one sample then, so its figures count as fresh.
class EmptyHistory final : public BoardHistory {
  public:
    std::optional<platform::Date> recentAt;

    void pruneExpired(platform::Date) override {}
    void record(const std::vector<model::ProviderUsage>&) override {}
    void setCalendar(platform::Calendar) override {}
    std::optional<std::string> persistenceError() const override { return std::nullopt; }
    std::optional<history::UsageSeries> series(ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date) const override {
        if (!recentAt) return std::nullopt;
        return history::UsageSeries{provider,
                                    window.id,
                                    std::string(64, 'a'),
                                    window.durationMinutes,
                                    window.resetsAt,
                                    {{*recentAt, window.usedPercent, true, std::nullopt}}};
    }
    std::optional<history::RhythmHistory> rhythm(ProviderKind,
                                                 const model::LimitWindow&) const override {
        return std::nullopt;
    }
};

class StatusFileTest : public ::testing::Test {
  protected:
    std::filesystem::path path() const { return runtime.path() / "kestrane" / "status.json"; }

    // The board after one refresh with these results, the given providers enabled.
    std::shared_ptr<const BoardSnapshot> board(const std::vector<ProviderKind>& enabled,
                                               const std::vector<model::FetchResult>& results,
                                               platform::Date now) {
        ProviderBoard made(history, platform::Calendar::current(), enabled);
        made.applyRefresh(results, now);
        return made.snapshot();
    }

    void publish() {
        model::ProviderUsage usage{.provider = ProviderKind::claude,
                                   .email = "someone@example.com",
                                   .windows = {{.id = "claude-session",
                                                .name = "Сессия",
                                                .usedPercent = 41,
                                                .durationMinutes = 300,
                                                .resetsAt = platform::Date{1'765'010'000}}},
                                   .updatedAt = platform::Date{1'765'000'000}};
        const platform::Date now{1'765'000'100};
        file.boardChanged(
            board({ProviderKind::codex, ProviderKind::claude},
                  {model::FetchResult::success(usage),
                   model::FetchResult::failure(ProviderKind::codex, "Codex не ответил вовремя.")},
                  now));
    }

    testing::TempDirectory runtime;
    EmptyHistory history;
    testing::FixedClock clock{platform::Date{1'765'000'100}};
    StatusFileWriter file{path(), clock};
};

TEST_F(StatusFileTest, LocationNeedsAnAbsoluteRuntimeFolder) {
    const auto at = [](std::map<std::string, std::string, std::less<>> variables) {
        return StatusFile::location(platform::MapEnvironment(std::move(variables), "/home/u"));
    };
    EXPECT_EQ(at({{"XDG_RUNTIME_DIR", "/run/user/1000"}}),
              std::filesystem::path("/run/user/1000/kestrane/status.json"));
    EXPECT_EQ(at({}), std::nullopt);
    EXPECT_EQ(at({{"XDG_RUNTIME_DIR", ""}}), std::nullopt);
    EXPECT_EQ(at({{"XDG_RUNTIME_DIR", "relative/dir"}}), std::nullopt);
}

TEST_F(StatusFileTest, PublishesWhatTheIconsShowReadableByTheUserAlone) {
    publish();
    struct stat info {};
    ASSERT_EQ(::stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(path().parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const auto text = platform::readFile(path(), 1 << 20);
    ASSERT_TRUE(text);
    // The e-mail stays with the application.
    EXPECT_EQ(text->find("someone@example.com"), std::string::npos);

    const auto snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->pid, ::getpid());
    // Every provider, enabled or not.
    ASSERT_EQ(snapshot->providers.size(), model::allProviderKinds.size());
    const ProviderStatus& codex = snapshot->providers[0];
    EXPECT_TRUE(codex.enabled);
    EXPECT_EQ(codex.text, "!");
    EXPECT_EQ(codex.error, "Codex не ответил вовремя.");
    const ProviderStatus& claude = snapshot->providers[2];
    EXPECT_EQ(claude.provider, ProviderKind::claude);
    EXPECT_EQ(claude.text, "59%");
    EXPECT_EQ(claude.windowTitle, "Сессия - 5 часов");
    EXPECT_EQ(claude.remainingPercent, 59);
    EXPECT_EQ(claude.resetsAt, platform::Date{1'765'010'000});
    EXPECT_EQ(claude.forecast, std::nullopt);
    // 45 % of the five hours gone against 41 % used; no track records on this board.
    EXPECT_EQ(claude.pace, (StatusPace{41, 45, -4, "Темп: медленнее равномерного на 4\u00a0п.п."}));
    EXPECT_EQ(claude.trackRecord, std::nullopt);
    EXPECT_FALSE(snapshot->providers[1].enabled);
    EXPECT_EQ(snapshot->providers[1].text, "--");
}

TEST_F(StatusFileTest, CarriesTheTrackRecordOfTheIconWindow) {
    const platform::Date now{1'765'000'100};
    history.recentAt = now - 60;
    ProviderBoard made(history, platform::Calendar::current(), {ProviderKind::claude});
    made.setTrackRecords(std::make_unique<TrackRecordCache>(false), now);
    made.applyRefresh(
        {model::FetchResult::success(model::ProviderUsage{.provider = ProviderKind::claude,
                                                          .windows = {{.id = "claude-session",
                                                                       .usedPercent = 41,
                                                                       .durationMinutes = 300,
                                                                       .resetsAt = now + 3600}},
                                                          .updatedAt = now - 60})},
        now);
    file.boardChanged(made.snapshot());
    const auto snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);
    // One sample: no past cycle, so no figures, only the line that says so.
    EXPECT_EQ(snapshot->providers[2].trackRecord,
              (StatusTrackRecord{0, 3, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                 "Для оценки прогноза пока мало истории: 0 из 3\u00a0нужных "
                                 "циклов"}));

    // Figures survive the file as written.
    StatusSnapshot written = *snapshot;
    written.providers[2].trackRecord =
        StatusTrackRecord{9, 3, 27, 0.84, 6.1, 0.9, "Прогноз на ваших данных"};
    written.providers[2].pace = StatusPace{62, 50, 12, "Темп: быстрее равномерного"};
    EXPECT_EQ(StatusSnapshot::decode(written.encode()), written);
}

TEST_F(StatusFileTest, CarriesTheServiceToUseNowOnlyWhenThereIsAChoice) {
    const platform::Date now{1'765'000'100};
    const auto usage = [&](ProviderKind provider, std::string id, double used) {
        return model::ProviderUsage{.provider = provider,
                                    .windows = {{.id = std::move(id),
                                                 .usedPercent = used,
                                                 .durationMinutes = 300,
                                                 .resetsAt = now + 3 * 3600}},
                                    .updatedAt = now - 60};
    };
    history.recentAt = now - 60;
    const std::vector<ProviderKind> enabled{ProviderKind::codex, ProviderKind::claude};
    const auto claude =
        model::FetchResult::success(usage(ProviderKind::claude, "claude-session", 41));

    // Codex is nearly spent and Claude has room: the overview's line names Claude.
    file.boardChanged(board(
        enabled,
        {model::FetchResult::success(usage(ProviderKind::codex, "codex-session", 98)), claude},
        now));
    auto snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);
    ASSERT_TRUE(snapshot->recommendation);
    EXPECT_EQ(snapshot->recommendation->provider, ProviderKind::claude);
    EXPECT_EQ(snapshot->recommendation->text.rfind("Сейчас лучше Claude", 0), 0u)
        << snapshot->recommendation->text;

    // Both fine: nothing to choose, nothing said.
    file.boardChanged(board(
        enabled,
        {model::FetchResult::success(usage(ProviderKind::codex, "codex-session", 30)), claude},
        now));
    snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->recommendation, std::nullopt);
}

TEST_F(StatusFileTest, AFileOfAGoneOrDifferentProcessMeansNoInstance) {
    publish();
    auto snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);

    struct Case {
        const char* name;
        std::int64_t pid;
        std::string start;
    };
    const Case cases[] = {
        // The same pid, started at another time: reused by another program.
        {"reused pid", snapshot->pid, snapshot->processStart + "1"},
        {"no such process", 0x3fffffff, snapshot->processStart},
        {"pid 0", 0, snapshot->processStart},
        {"negative pid", -1, snapshot->processStart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StatusSnapshot changed = *snapshot;
        changed.pid = c.pid;
        changed.processStart = c.start;
        ASSERT_EQ(platform::writeFileAtomically(
                      path(), changed.encode(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write),
                  0);
        EXPECT_EQ(StatusFile::readLive(path()), std::nullopt);
    }
    for (const char* text : {"", "{", "[]", "{\"version\":2}", "null"}) {
        SCOPED_TRACE(text);
        runtime.write("kestrane/status.json", text);
        EXPECT_EQ(StatusFile::readLive(path()), std::nullopt);
    }
}

TEST_F(StatusFileTest, WithdrawRemovesOnlyItsOwnFile) {
    publish();
    file.withdraw();
    EXPECT_FALSE(std::filesystem::exists(path()));

    // Another instance's file stays.
    publish();
    auto other = *StatusFile::readLive(path());
    other.pid = ::getppid();
    runtime.write("kestrane/status.json", other.encode());
    file.withdraw();
    EXPECT_TRUE(std::filesystem::exists(path()));
}

}  // namespace
}  // namespace kestrane::app
