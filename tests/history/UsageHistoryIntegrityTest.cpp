// What the history must never lose: each case runs the real store against a real file.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "history/HistoryTestSupport.h"
#include "history/UsageArchive.h"
#include "history/UsageHistoryStore.h"
#include "platform/Files.h"
#include "support/TempDirectory.h"

namespace kestrane::history {
namespace {

namespace fs = std::filesystem;
using model::ProviderKind;
using platform::Calendar;
using platform::Date;
using test::kNoon;
using test::recordNow;
using test::usage;
using test::window;

constexpr double kMinute = 60;
constexpr double kDay = 86'400;

fs::path historyFile(const testing::TempDirectory& folder) {
    return folder.path() / "Kestrane" / "usage-history-v1.json";
}

UsageArchive readArchive(const fs::path& file) {
    const auto text = platform::readFile(file, 64 << 20);
    if (!text) throw std::runtime_error("no history file");
    return decodeArchive(*text);
}

std::size_t sampleCount(const UsageArchive& archive, ProviderKind provider) {
    std::size_t count = 0;
    for (const auto& [key, series] : archive.series) {
        if (series.provider == provider) count += series.samples.size();
    }
    return count;
}

std::vector<fs::path> filesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// --- An absent e-mail is an unknown account, not another one ---------------------------------

TEST(UsageHistoryIntegrityTest, FetchWithoutAnEmailKeepsTheAccountsHistoryAcrossRestarts) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const auto cursor = [](Date at, double used, std::optional<std::string> email) {
        return usage(at, {window("cursor-total", used, kNoon + 10 * kDay, 43'200)},
                     ProviderKind::cursor, std::move(email), "Pro");
    };
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"));
        recordNow(store, cursor(kNoon, 10, "dev@example.com"));
        recordNow(store, cursor(kNoon + 5 * kMinute, 12, "dev@example.com"));
        // The account request failed: no e-mail, but the same plan and quota.
        recordNow(store, cursor(kNoon + 10 * kMinute, 13, std::nullopt));
    }
    {
        // After a restart the account is still the one known before.
        UsageHistoryStore store(file, kNoon + 11 * kMinute, Calendar("UTC"));
        recordNow(store, cursor(kNoon + 15 * kMinute, 14, std::nullopt));
        recordNow(store, cursor(kNoon + 20 * kMinute, 15, "DEV@example.com "));
        const auto series = store.series(ProviderKind::cursor,
                                         window("cursor-total", 15, kNoon + 10 * kDay, 43'200),
                                         kNoon + 20 * kMinute);
        ASSERT_TRUE(series);
        EXPECT_EQ(series->samples.size(), 5u);
        EXPECT_EQ(series->accountDigest,
                  UsageHistoryStore::accountDigest(cursor(kNoon, 0, "dev@example.com")));
        const auto rhythm =
            store.rhythm(ProviderKind::cursor, window("cursor-total", 15, std::nullopt, 43'200));
        ASSERT_TRUE(rhythm);
        EXPECT_FALSE(rhythm->hours.empty());

        // A different known account still replaces the provider's history.
        recordNow(store, cursor(kNoon + 25 * kMinute, 1, "other@example.com"));
        EXPECT_EQ(sampleCount(store.archive(), ProviderKind::cursor), 1u);
    }
    EXPECT_EQ(readArchive(file).lastKnownAccounts.at(ProviderKind::cursor),
              UsageHistoryStore::accountDigest(cursor(kNoon, 0, "other@example.com")));
}

TEST(UsageHistoryIntegrityTest, FirstEmailAdoptsWhatWasRecordedWithoutOne) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const auto antigravity = [](Date at, double used, std::optional<std::string> email,
                                std::optional<std::string> plan) {
        return usage(at, {window("antigravity-gemini", used, kNoon + kDay, 300)},
                     ProviderKind::antigravity, std::move(email), std::move(plan));
    };
    UsageHistoryStore store(file, kNoon, Calendar("UTC"));
    // Identity unknown from the start (with and without a plan), then it arrives.
    recordNow(store, antigravity(kNoon, 10, std::nullopt, std::nullopt));
    recordNow(store, antigravity(kNoon + 5 * kMinute, 11, std::nullopt, std::nullopt));
    recordNow(store, antigravity(kNoon + 10 * kMinute, 12, "me@example.com", std::nullopt));
    EXPECT_EQ(sampleCount(readArchive(file), ProviderKind::antigravity), 3u);
}

// --- Dates beyond the machine's clock ----------------------------------------------------------

TEST(UsageHistoryIntegrityTest, SnapshotDatedInTheFutureIsRecordedAtNowAndPrunesNothing) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const Date now = kNoon + 3 * kDay;
    UsageHistoryStore store(file, kNoon, Calendar("UTC"));
    recordNow(store, usage(kNoon, {window("claude-session", 20, kNoon + 3600)}));

    // A year ahead: the observation is real, its date is not.
    store.record(usage(now + 365 * kDay, {window("codex-session", 30, now + 365 * kDay + 3600)},
                       ProviderKind::codex),
                 now);
    // Within the tolerance a provider's date is believed.
    store.record(
        usage(now + 4 * kMinute, {window("kimi-week", 5, now + 7 * kDay)}, ProviderKind::kimi),
        now);

    const UsageArchive saved = readArchive(file);
    EXPECT_EQ(sampleCount(saved, ProviderKind::claude), 1u);
    ASSERT_EQ(sampleCount(saved, ProviderKind::codex), 1u);
    EXPECT_EQ(saved.series.at("Codex|codex-session").samples.front().date, now);
    EXPECT_EQ(saved.series.at("Kimi|kimi-week").samples.front().date, now + 4 * kMinute);

    // Codex keeps recording as time goes on.
    store.record(
        usage(now + 10 * kMinute, {window("codex-session", 31, now + 3600)}, ProviderKind::codex),
        now + 10 * kMinute);
    EXPECT_EQ(sampleCount(readArchive(file), ProviderKind::codex), 2u);
}

TEST(UsageHistoryIntegrityTest, StoredSamplesBeyondTheClockAreDroppedAtLoad) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const Date tenYears = kNoon + 3650 * kDay;
    {
        // Written while the clock was ten years ahead.
        UsageHistoryStore store(file, tenYears, Calendar("UTC"));
        recordNow(store, usage(tenYears, {window("claude-session", 40, tenYears + 3600)}));
        recordNow(store,
                  usage(tenYears + 5 * kMinute, {window("claude-session", 42, tenYears + 3600)}));
        ASSERT_FALSE(store.archive().rhythms.at("Claude|claude-session").hours.empty());
    }
    UsageHistoryStore store(file, kNoon, Calendar("UTC"));
    EXPECT_TRUE(store.archive().series.empty());
    EXPECT_TRUE(store.archive().rhythms.empty());
    EXPECT_TRUE(readArchive(file).series.empty());
    recordNow(store, usage(kNoon + kMinute, {window("claude-session", 10, kNoon + 3600)}));
    EXPECT_EQ(sampleCount(readArchive(file), ProviderKind::claude), 1u);
}

// --- One writer per file -------------------------------------------------------------------

// Two processes open one history file at the same time and then record as fast as they can,
// each for its own provider. Exactly one of them writes the file, and every sample it recorded
// is in it; the other says so in its warning line and leaves the file alone.
TEST(UsageHistoryIntegrityTest, SecondProcessOnTheSameFileNeverWritesIt) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    constexpr int kSnapshots = 40;
    struct Child {
        pid_t pid = -1;
        int report = -1;  // child → parent: 'w' writer or 'r' read-only, then 'd' when done
        int go = -1;      // parent → child: one byte once both have opened the file
    };
    const ProviderKind providers[2] = {ProviderKind::claude, ProviderKind::codex};
    Child children[2];
    for (int i = 0; i < 2; ++i) {
        int report[2];
        int go[2];
        ASSERT_EQ(::pipe(report), 0);
        ASSERT_EQ(::pipe(go), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(report[0]);
            ::close(go[1]);
            UsageHistoryStore store(file, kNoon, Calendar("UTC"));
            const bool warned =
                store.persistenceError() == std::string(UsageHistoryStore::otherWriterText);
            const char role = store.isWriter() ? 'w' : (warned ? 'r' : '?');
            if (::write(report[1], &role, 1) != 1) ::_exit(2);
            char start = 0;
            if (::read(go[0], &start, 1) != 1) ::_exit(3);
            const std::string id = i == 0 ? "claude-session" : "codex-session";
            for (int n = 0; n < kSnapshots; ++n) {
                const Date at = kNoon + n * 61.0 + i;
                recordNow(store, usage(at, {window(id, n, kNoon + kDay)}, providers[i]));
            }
            const char done = 'd';
            if (::write(report[1], &done, 1) != 1) ::_exit(4);
            ::_exit(0);
        }
        ::close(report[1]);
        ::close(go[0]);
        children[i] = Child{pid, report[0], go[1]};
        // The second starts only after the first holds the file.
        char role = 0;
        ASSERT_EQ(::read(children[i].report, &role, 1), 1);
        EXPECT_EQ(role, i == 0 ? 'w' : 'r') << "process " << i;
    }
    for (const Child& child : children) {
        const char start = 'g';
        ASSERT_EQ(::write(child.go, &start, 1), 1);
    }
    for (const Child& child : children) {
        char done = 0;
        EXPECT_EQ(::read(child.report, &done, 1), 1);
        int status = 0;
        ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ::close(child.report);
        ::close(child.go);
    }
    const UsageArchive saved = readArchive(file);
    EXPECT_EQ(sampleCount(saved, ProviderKind::claude), static_cast<std::size_t>(kSnapshots));
    EXPECT_EQ(sampleCount(saved, ProviderKind::codex), 0u);

    // Once the writer is gone the next start writes again: the kernel dropped its lock.
    UsageHistoryStore next(file, kNoon + kDay, Calendar("UTC"));
    EXPECT_TRUE(next.isWriter());
}

// --- A file that cannot be read is moved aside, never overwritten ------------------------------

struct UnreadableCase {
    const char* name;
    std::string contents;
    // Taken away from the file after writing it (0 = leave as written).
    fs::perms removed = fs::perms::none;
};

// Runs `body` as a user that is refused a file of mode 000: root reads anything, so as root it
// runs in a child process that has given its rights up. Returns false when that is impossible.
bool runUnprivileged(const fs::path& folder, const std::function<void()>& body) {
    if (::geteuid() != 0) {
        body();
        return true;
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return false;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) ::_exit(10);
        }
        if (::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) ::_exit(10);
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 10) return false;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged run failed";
    ::chown(folder.c_str(), 0, 0);
    return true;
}

TEST(UsageHistoryIntegrityTest, UnreadableFileIsRenamedAsideBeforeTheFirstSave) {
    const std::string valid = encodeArchive(UsageArchive{
        .series = {{"Claude|claude-session", UsageSeries{ProviderKind::claude,
                                                         "claude-session",
                                                         std::string(64, 'a'),
                                                         300,
                                                         std::nullopt,
                                                         {UsageSample{kNoon, 5, true, {}}}}}}});
    std::string newer = valid;
    newer.replace(newer.find("\"version\":1"), 11, "\"version\":2");
    std::string unknownProvider = valid;
    unknownProvider.replace(unknownProvider.find("\"Claude\""), 8, "\"Gemini\"");
    const UnreadableCase cases[] = {
        {"written by a newer build", newer},
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"unknown provider", unknownProvider},
        {"not readable by the user", valid, fs::perms::all},
    };
    for (const UnreadableCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory folder;
        const auto file = historyFile(folder);
        folder.write("Kestrane/usage-history-v1.json", c.contents);
        if (c.removed != fs::perms::none)
            fs::permissions(file, c.removed, fs::perm_options::remove);

        const bool ran = runUnprivileged(folder.path(), [&] {
            UsageHistoryStore store(file, kNoon + kMinute, Calendar("UTC"));
            EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::readErrorText));
            store.pruneExpired(kNoon + 2 * kMinute);
            EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::readErrorText));

            recordNow(store, usage(kNoon + 3 * kMinute, {window("claude-session", 7)}));
            EXPECT_EQ(store.persistenceError(), std::nullopt);
            const auto aside =
                filesStartingWith(file.parent_path(), "usage-history-v1.json.unreadable-");
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_EQ(aside.front().filename(),
                      "usage-history-v1.json.unreadable-20250310T120300Z");
            EXPECT_EQ(readArchive(file).series.at("Claude|claude-session").samples.size(), 1u);
        });
        if (!ran) {
            ADD_FAILURE() << "could not run as an unprivileged user";
            continue;
        }
        // The moved file kept every byte.
        const auto aside =
            filesStartingWith(file.parent_path(), "usage-history-v1.json.unreadable-");
        ASSERT_EQ(aside.size(), 1u);
        fs::permissions(aside.front(), fs::perms::owner_read, fs::perm_options::add);
        EXPECT_EQ(platform::readFile(aside.front(), 1 << 20), c.contents);
    }
}

TEST(UsageHistoryIntegrityTest, OnlyTheNewestUnreadableFilesAreKept) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    std::vector<std::string> contents;
    for (int round = 0; round < 5; ++round) {
        contents.push_back("broken " + std::to_string(round));
        folder.write("Kestrane/usage-history-v1.json", contents.back());
        // Two rounds in the same second still keep both files.
        const Date now = kNoon + (round / 2) * kDay;
        UsageHistoryStore store(file, now, Calendar("UTC"));
        recordNow(store, usage(now, {window("claude-session", 7)}));
    }
    const auto aside = filesStartingWith(file.parent_path(), "usage-history-v1.json.unreadable-");
    ASSERT_EQ(aside.size(), UsageHistoryStore::keptUnreadableFiles);
    for (std::size_t i = 0; i < aside.size(); ++i) {
        EXPECT_EQ(platform::readFile(aside[i], 1 << 10), contents[2 + i]) << aside[i];
    }
}

TEST(UsageHistoryIntegrityTest, UnreadableFileThatCannotBeMovedIsNotOverwritten) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", "{\"version\":2}");
    const bool ran = runUnprivileged(folder.path(), [&] {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"));
        // The folder no longer takes new names.
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
        recordNow(store, usage(kNoon, {window("claude-session", 7)}));
        EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::readErrorText));
        EXPECT_EQ(store.archive().series.size(), 1u);
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::add);
    });
    ASSERT_TRUE(ran);
    EXPECT_EQ(platform::readFile(file, 1 << 10), "{\"version\":2}");
}

// --- Leftovers of a killed save ------------------------------------------------------------

TEST(UsageHistoryIntegrityTest, TemporaryFilesOfAKilledSaveAreRemovedByTheWriterOnly) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const std::vector<std::string> leftovers = {".usage-history-v1.json.Ab12Cd",
                                                ".usage-history-v1.json.zzzzzz"};
    const std::vector<std::string> others = {
        ".usage-history-v1.json.lock", ".usage-history-v1.json.Ab12C", ".other-file.json.Ab12Cd",
        "usage-history-v1.json.lock"};
    for (const auto& name : leftovers) folder.write("Kestrane/" + name, std::string(100, 'x'));
    for (const auto& name : others) folder.write("Kestrane/" + name, "keep");

    UsageHistoryStore writer(file, kNoon, Calendar("UTC"));
    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(file.parent_path() / name)) << name;
    for (const auto& name : others) EXPECT_TRUE(fs::exists(file.parent_path() / name)) << name;

    // While a writer holds the file, a save of its own may be under way: a reader touches
    // nothing.
    folder.write("Kestrane/.usage-history-v1.json.Qw34Er", "in progress");
    UsageHistoryStore reader(file, kNoon, Calendar("UTC"));
    EXPECT_FALSE(reader.isWriter());
    EXPECT_TRUE(fs::exists(file.parent_path() / ".usage-history-v1.json.Qw34Er"));
}

}  // namespace
}  // namespace kestrane::history
