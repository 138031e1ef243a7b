#include "app/status/StatusFile.h"
#include "app/status/StatusFileWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/ProcessIdentity.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;

// A history without any observations: no forecast can be made. With `recentAt`, every window
// has one sample then, so its figures count as fresh.
class EmptyHistory final : public UsageHistory {
  public:
    std::optional<platform::Date> recentAt;

    void pruneExpired(platform::Date) override {}
    void record(const model::ProviderUsage&) override {}
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

    void publish() {
        std::map<ProviderKind, ProviderState> states;
        model::ProviderUsage usage{.provider = ProviderKind::claude,
                                   .email = "someone@example.com",
                                   .windows = {{.id = "claude-session",
                                                .name = "Сессия",
                                                .usedPercent = 41,
                                                .durationMinutes = 300,
                                                .resetsAt = platform::Date{1'765'010'000}}},
                                   .updatedAt = platform::Date{1'765'000'000}};
        states[ProviderKind::claude] = ProviderState{usage, std::nullopt};
        states[ProviderKind::codex] = ProviderState{std::nullopt, "Codex не ответил вовремя."};
        file.publish({ProviderKind::codex, ProviderKind::claude}, states, history,
                     platform::Date{1'765'000'100});
    }

    testing::TempDirectory runtime;
    EmptyHistory history;
    StatusFileWriter file{path(), platform::Calendar::current()};
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
    ASSERT_EQ(snapshot->providers.size(), 5u);
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
    EXPECT_FALSE(snapshot->providers[1].enabled);
    EXPECT_EQ(snapshot->providers[1].text, "--");
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
    std::map<ProviderKind, ProviderState> states;
    states[ProviderKind::claude] = ProviderState{usage(ProviderKind::claude, "claude-session", 41),
                                                 std::nullopt};
    states[ProviderKind::codex] =
        ProviderState{usage(ProviderKind::codex, "codex-session", 98), std::nullopt};
    const std::vector<ProviderKind> enabled{ProviderKind::codex, ProviderKind::claude};

    // Codex is nearly spent and Claude has room: the overview's line names Claude.
    file.publish(enabled, states, history, now);
    auto snapshot = StatusFile::readLive(path());
    ASSERT_TRUE(snapshot);
    ASSERT_TRUE(snapshot->recommendation);
    EXPECT_EQ(snapshot->recommendation->provider, ProviderKind::claude);
    EXPECT_EQ(snapshot->recommendation->text.rfind("Сейчас лучше Claude", 0), 0u)
        << snapshot->recommendation->text;

    // Both fine: nothing to choose, nothing said.
    states[ProviderKind::codex] =
        ProviderState{usage(ProviderKind::codex, "codex-session", 30), std::nullopt};
    file.publish(enabled, states, history, now);
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
        ASSERT_EQ(platform::writeFileAtomically(path(), changed.encode(),
                                                std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write),
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
