// The store as the application runs it: changes recorded in memory, written by a thread of its
// own as journal lines beside the archive file, folded into the file at a bound and at quit.
// Each case runs the real store against real files.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "history/ArchiveJournal.h"
#include "history/HistoryFiles.h"
#include "history/HistoryTestSupport.h"
#include "history/UsageArchive.h"
#include "history/UsageHistoryStore.h"
#include "platform/Files.h"
#include "support/Gate.h"
#include "support/TempDirectory.h"

namespace kestrane::history {
namespace {

namespace fs = std::filesystem;
using model::ProviderKind;
using platform::Calendar;
using platform::Date;
using test::kNoon;
using test::usage;
using test::window;
using Saving = UsageHistoryStore::BackgroundSaving;

constexpr double kMinute = 60;
constexpr double kDay = 86'400;
constexpr std::size_t kMaximumBytes = 128u << 20;

fs::path historyFile(const testing::TempDirectory& folder) {
    return folder.path() / "Kestrane" / "usage-history-v1.json";
}

// What a store opening the files would start from, before its own pruning.
UsageArchive onDisk(const fs::path& file) {
    return loadHistoryFiles(file, kMaximumBytes, false).archive;
}

std::size_t journalLines(const fs::path& file) {
    const auto text = platform::readFile(journalPath(file), kMaximumBytes);
    return text ? static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')) : 0;
}

std::size_t sampleCount(const UsageArchive& archive) {
    std::size_t count = 0;
    for (const auto& [key, series] : archive.series) count += series.samples.size();
    return count;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// An archive file as any earlier build wrote it: `count` samples of one Claude window, 45 s
// apart, the last one just before `end`, and its rhythm.
std::string archiveText(std::size_t count, Date end) {
    UsageArchive archive;
    const std::string digest = UsageHistoryStore::accountDigest(usage(kNoon, {}));
    UsageSeries series{ProviderKind::claude, "claude-session", digest, 300, std::nullopt, {}};
    RhythmHistory rhythm{digest, 300, "UTC", {}};
    for (std::size_t i = 0; i < count; ++i) {
        const Date at = end - static_cast<double>(count - i) * 45.0;
        series.samples.push_back(UsageSample{at, (i % 900) * 0.1, i % 900 == 0, std::nullopt});
    }
    for (int hour = 48; hour >= 1; --hour) {
        rhythm.hours.push_back(RhythmHour{
            Date{end.secondsSince1970 - hour * 3600.0 - std::fmod(end.secondsSince1970, 3600.0)},
            1.5, 3600});
    }
    archive.series["Claude|claude-session"] = series;
    archive.rhythms["Claude|claude-session"] = rhythm;
    return encodeArchive(archive);
}

// One refresh of every provider, three windows each.
std::vector<model::ProviderUsage> refresh(Date at, double used) {
    std::vector<model::ProviderUsage> usages;
    for (const ProviderKind provider : model::allProviderKinds) {
        const std::string name(model::rawValue(provider));
        usages.push_back(usage(at,
                               {window(name + "-session", used, kNoon + kDay),
                                window(name + "-week", used / 2, kNoon + 7 * kDay, 10'080),
                                window(name + "-month", used / 4, std::nullopt, 43'200)},
                               provider));
    }
    return usages;
}

// --- One write per refresh, never on the recording thread --------------------------------------

TEST(UsageHistoryJournalTest, RefreshIsOneSmallWriteThatTheRecordingThreadNeverWaitsFor) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const std::string before = archiveText(10'000, kNoon);
    folder.write("Kestrane/usage-history-v1.json", before);
    testing::Gate gate;
    UsageHistoryStore store(file, kNoon, Calendar("UTC"),
                            Saving{.beforeWrite = [&] { gate.wait(); }});

    // The writer is held up: recording and reading go on regardless.
    store.record(refresh(kNoon + 5 * kMinute, 20), kNoon + 5 * kMinute);
    store.record(refresh(kNoon + 10 * kMinute, 21), kNoon + 10 * kMinute);
    const auto w = window("Claude-session", 21, kNoon + kDay);
    const auto series = store.series(ProviderKind::claude, w, kNoon + 10 * kMinute);
    ASSERT_TRUE(series);
    EXPECT_EQ(series->samples.back().usedPercent, 21);
    EXPECT_EQ(store.persistenceError(), std::nullopt);
    EXPECT_EQ(platform::readFile(file, kMaximumBytes), before);

    gate.open();
    store.flush();
    // The second refresh may have found the first one still waiting: then both went out as one.
    EXPECT_LE(store.writeStatistics().writes(), 2u);
    EXPECT_EQ(journalLines(file), 1 + store.writeStatistics().writes());
    EXPECT_EQ(onDisk(file), store.archive());
    EXPECT_EQ(platform::readFile(file, kMaximumBytes), before);

    // One more refresh: one line of its own, a few kilobytes against an archive of 650 kB.
    const std::uint64_t bytes = store.writeStatistics().bytes();
    const std::size_t writes = store.writeStatistics().writes();
    store.record(refresh(kNoon + 15 * kMinute, 22), kNoon + 15 * kMinute);
    store.flush();
    EXPECT_EQ(store.writeStatistics().writes(), writes + 1);
    EXPECT_EQ(store.writeStatistics().wholeWrites, 0u);
    EXPECT_LT(store.writeStatistics().bytes() - bytes, 8'192u);
    EXPECT_LT(store.writeStatistics().bytes() - bytes, before.size() / 64);
    EXPECT_EQ(onDisk(file), store.archive());
}

TEST(UsageHistoryJournalTest, PruningWaitsForTheRefreshsWriteAndQuitFoldsTheJournalIn) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(100, kNoon));
    UsageArchive last;
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{});
        // A week later the old series has aged out: dropped in memory at once, written with
        // the refresh's records in its one write.
        store.pruneExpired(kNoon + 8 * kDay);
        EXPECT_FALSE(store.archive().series.contains("Claude|claude-session"));
        store.record(refresh(kNoon + 8 * kDay, 5), kNoon + 8 * kDay);
        store.flush();
        EXPECT_EQ(store.writeStatistics().writes(), 1u);
        EXPECT_EQ(onDisk(file), store.archive());
        EXPECT_FALSE(onDisk(file).series.contains("Claude|claude-session"));
        last = store.archive();
    }
    // One file again, the one every build reads.
    EXPECT_FALSE(fs::exists(journalPath(file)));
    EXPECT_EQ(decodeArchive(*platform::readFile(file, kMaximumBytes)), last);
}

// The application ends its process without running destructors: it finishes writing first.
TEST(UsageHistoryJournalTest, FinishWritingLeavesOneCompleteFileBeforeTheProcessEnds) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(100, kNoon));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto* store = new UsageHistoryStore(file, kNoon, Calendar("UTC"), Saving{});
        store->record(refresh(kNoon + kMinute, 10), kNoon + kMinute);
        store->record(refresh(kNoon + 2 * kMinute, 11), kNoon + 2 * kMinute);
        store->finishWriting();
        const std::string written = encodeArchive(store->archive());
        // Recorded, but no longer written.
        store->record(refresh(kNoon + 3 * kMinute, 12), kNoon + 3 * kMinute);
        const bool same = platform::readFile(file, kMaximumBytes) == written &&
                          !fs::exists(journalPath(file)) &&
                          store->persistenceError() == std::nullopt;
        ::_exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(UsageHistoryJournalTest, RecordingARefreshAtOnceEqualsRecordingItsSnapshotsOneByOne) {
    UsageHistoryStore together(std::nullopt, kNoon, Calendar("UTC"));
    UsageHistoryStore apart(std::nullopt, kNoon, Calendar("UTC"));
    for (int i = 0; i < 5; ++i) {
        const Date at = kNoon + i * 5 * kMinute;
        auto usages = refresh(at, 10 + i);
        // A stale one and another account among them.
        usages.push_back(usage(at - kMinute, {window("claude-session", 3)}));
        if (i == 3) usages[1].email = "someone-else@example.com";
        together.record(usages, at);
        for (const auto& u : usages) apart.record(u, at);
    }
    EXPECT_EQ(together.archive(), apart.archive());
}

// --- The files always read back to what was recorded -----------------------------------------

// Random refreshes across providers, accounts, window lengths, resets, clock jumps, time zones
// and pruning, from a file with a series at the sample cap (so it is thinned) and a series
// without a rhythm (rebuilt at load). After every step the files read back to the archive in
// memory; with a small journal bound the journal is folded in every few steps.
TEST(UsageHistoryJournalTest, FilesReadBackToTheArchiveInMemoryAfterEveryStep) {
    const char* zones[] = {"UTC", "Europe/Moscow", "Asia/Kolkata", "America/New_York"};
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        testing::TempDirectory folder;
        const auto file = historyFile(folder);
        {
            UsageArchive archive = decodeArchive(archiveText(12'000, kNoon));
            // Hours learned over the last 90 days: the oldest expire as the steps go on.
            auto& hours = archive.rhythms.at("Claude|claude-session").hours;
            for (int day = 89; day >= 3; --day) {
                hours.insert(hours.end() - 48,
                             RhythmHour{Date{kNoon.secondsSince1970 - day * kDay}, 0.5, 1800});
            }
            archive.series["Codex|codex-week"] =
                UsageSeries{ProviderKind::codex,
                            "codex-week",
                            UsageHistoryStore::accountDigest(usage(kNoon, {}, ProviderKind::codex)),
                            10'080,
                            std::nullopt,
                            {UsageSample{kNoon - 1200, 5, true, std::nullopt},
                             UsageSample{kNoon - 600, 7, false, std::nullopt}}};
            folder.write("Kestrane/usage-history-v1.json", encodeArchive(archive));
        }
        std::mt19937 random(seed);
        const auto chance = [&](int percent) {
            return std::uniform_int_distribution<int>(0, 99)(random) < percent;
        };
        const Saving saving{.journalLimit = seed % 2 == 0 ? 4'096u : 1u << 20};
        std::optional<UsageHistoryStore> store;
        store.emplace(file, kNoon, Calendar("UTC"), saving);
        ASSERT_FALSE(store->archive().rhythms.at("Codex|codex-week").hours.empty());
        Date t = kNoon + 30;
        double used = 10;
        for (int step = 0; step < 120; ++step) {
            SCOPED_TRACE(step);
            const int what = std::uniform_int_distribution<int>(0, 99)(random);
            if (step == 0 || what < 65) {
                std::vector<model::ProviderUsage> usages;
                used = chance(10) ? used / 3 : std::min(99.0, used + chance(50));
                for (const ProviderKind provider : model::allProviderKinds) {
                    if (step > 0 && chance(30)) continue;
                    const std::string name(model::rawValue(provider));
                    std::optional<std::string> email = "user@example.com";
                    if (chance(8)) email = std::nullopt;
                    if (chance(4)) email = "other@example.com";
                    const Date reset = kNoon + (chance(80) ? 1 : 2) * kDay;
                    Date at = t;
                    if (chance(3)) at = t + 365 * kDay;  // a server's wrong date
                    if (chance(3)) at = t - kMinute;     // seen before
                    usages.push_back(
                        usage(at,
                              {window(name + "-session", used, reset > t ? reset : t + kDay,
                                      chance(5) ? 60 : 300),
                               window(name == "Claude" ? "claude-session" : name + "-week",
                                      used / 2, std::nullopt, name == "Claude" ? 300 : 10'080)},
                              provider, email, chance(3) ? "Max" : "Pro"));
                }
                // Now and then the clock was ahead or is set back a little.
                const Date now = chance(4) ? t - 2 * kDay : t;
                store->record(usages, now);
            } else if (what < 75) {
                store->pruneExpired(t);
            } else if (what < 82) {
                store->setCalendar(
                    Calendar(zones[std::uniform_int_distribution<int>(0, 3)(random)]));
            } else if (what < 86) {
                const UsageArchive kept = store->archive();
                store.reset();
                EXPECT_FALSE(fs::exists(journalPath(file)));
                EXPECT_EQ(decodeArchive(*platform::readFile(file, kMaximumBytes)), kept);
                store.emplace(file, t, Calendar("UTC"), saving);
            }
            store->flush();
            EXPECT_EQ(store->persistenceError(), std::nullopt);
            ASSERT_EQ(onDisk(file), store->archive());
            // Bursts (merged into one sample), gaps within a segment, longer gaps, days away.
            const int gap = std::uniform_int_distribution<int>(0, 99)(random);
            t = t + (gap < 20   ? std::uniform_int_distribution<int>(20, 59)(random)
                     : gap < 55 ? std::uniform_int_distribution<int>(60, 900)(random)
                     : gap < 95 ? std::uniform_int_distribution<int>(901, 4 * 3600)(random)
                                : 3 * kDay);
        }
        const UsageArchive kept = store->archive();
        store.reset();
        EXPECT_EQ(decodeArchive(*platform::readFile(file, kMaximumBytes)), kept);
    }
}

// --- A kill at any moment ----------------------------------------------------------------------

// A child process records refreshes as fast as it can and reports each one once its write is
// done; the parent kills it with SIGKILL after a random number of them, i.e. somewhere in a
// later record, journal append or fold (the journal bound is small in some rounds, so folds are
// frequent). Whatever the moment, the files read back to a complete archive holding every
// reported refresh and at most the one being written beyond them, the journal is never
// damaged, and nothing piles up in the folder.
TEST(UsageHistoryJournalTest, KilledWriterLosesAtMostTheRefreshBeingWritten) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(4'000, kNoon));

    std::mt19937 random(20'250'311);
    double next = kNoon.secondsSince1970 + 61;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const LoadedHistory start = loadHistoryFiles(file, kMaximumBytes, false);
        ASSERT_FALSE(start.files.unreadableArchive);
        ASSERT_FALSE(start.files.damagedJournal);
        const std::size_t startCount = sampleCount(start.archive);
        const std::size_t limits[] = {1'024, 16'384, 1u << 20};
        const std::size_t limit = limits[round % 3];

        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const double firstDate = next;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            UsageHistoryStore store(file, Date{firstDate}, Calendar("UTC"),
                                    Saving{.journalLimit = limit});
            for (double t = firstDate;; t += 61) {
                const std::vector<model::ProviderUsage> usages = {
                    usage(Date{t}, {window("claude-session", 80)})};
                store.record(usages, Date{t});
                store.flush();
                const char done = store.persistenceError() ? 'e' : 's';
                if (::write(pipeEnds[1], &done, 1) != 1) ::_exit(1);
            }
        }
        ::close(pipeEnds[1]);
        const int refreshes = std::uniform_int_distribution<int>(1, 12)(random);
        int reported = 0;
        while (reported < refreshes) {
            char done = 0;
            const ssize_t count = ::read(pipeEnds[0], &done, 1);
            if (count < 0 && errno == EINTR) continue;
            ASSERT_EQ(count, 1);
            ASSERT_EQ(done, 's');
            ++reported;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        char pending[256];
        ssize_t unread = 0;
        for (ssize_t count; (count = ::read(pipeEnds[0], pending, sizeof pending)) > 0;) {
            unread += count;
        }
        ::close(pipeEnds[0]);

        const LoadedHistory after = loadHistoryFiles(file, kMaximumBytes, false);
        ASSERT_FALSE(after.files.unreadableArchive);
        ASSERT_FALSE(after.files.damagedJournal);
        const std::size_t count = sampleCount(after.archive);
        EXPECT_GE(count, startCount + static_cast<std::size_t>(reported));
        EXPECT_LE(count, startCount + static_cast<std::size_t>(reported + unread) + 1);
        const auto& samples = after.archive.series.at("Claude|claude-session").samples;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            ASSERT_LT(samples[i - 1].date, samples[i].date) << i;
        }
        next = samples.back().date.secondsSince1970 + 61;
        // The archive file, its journal, the lock, and at most the temporary file of a fold
        // that was cut short (removed when the next writer opens the files).
        const auto names = namesIn(file.parent_path());
        EXPECT_LE(names.size(), 4u) << ::testing::PrintToString(names);
    }
}

// --- The disk refuses ---------------------------------------------------------------------------

// Runs `body` in a child process; its failures become this test's. With `unprivileged`, the child
// runs as "nobody" when this runs as root (root may write anywhere). False when that is
// impossible.
bool runInChild(const fs::path& folder, bool unprivileged, const std::function<void()>& body) {
    const passwd* nobody = unprivileged && ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    if (unprivileged && ::geteuid() == 0 && !nobody) return false;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (nobody) {
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                if (::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                    ::_exit(10);
                }
            }
            if (::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) ::_exit(10);
            if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
        }
        body();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 10) return false;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's checks failed";
    if (nobody) ::chown(folder.c_str(), 0, 0);
    return true;
}

// A full disk, as a file size limit: appends and whole writes fail. The files keep the last
// good state, the warning line says so, and once there is room again everything recorded in
// the meantime is written.
TEST(UsageHistoryJournalTest, FullDiskKeepsTheLastGoodStateAndSaysSo) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(2'000, kNoon));
    const bool ran = runInChild(folder.path(), false, [&] {
        ::signal(SIGXFSZ, SIG_IGN);
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{.journalLimit = 16'384});
        store.record(refresh(kNoon + kMinute, 10), kNoon + kMinute);
        store.flush();
        ASSERT_EQ(store.persistenceError(), std::nullopt);
        const UsageArchive good = store.archive();
        const auto journalSize = fs::file_size(journalPath(file));

        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit full{static_cast<rlim_t>(journalSize + 100), limit.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
        // Appends until the journal passes its bound, then whole writes: all refused.
        for (int i = 2; i < 12; ++i) {
            store.record(refresh(kNoon + i * kMinute, 10 + i), kNoon + i * kMinute);
            store.flush();
            EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::saveErrorText)) << i;
            EXPECT_EQ(onDisk(file), good) << i;
        }
        const auto shown = store.series(
            ProviderKind::codex, window("Codex-session", 21, kNoon + kDay), kNoon + 11 * kMinute);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->samples.back().usedPercent, 21);

        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        store.record(refresh(kNoon + 12 * kMinute, 30), kNoon + 12 * kMinute);
        store.flush();
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        EXPECT_EQ(onDisk(file), store.archive());
    });
    ASSERT_TRUE(ran);
}

// A folder that no longer takes new files: the journal it already holds still takes lines, but
// neither a new journal nor a new archive file can be made there.
TEST(UsageHistoryJournalTest, ReadOnlyFolderKeepsTheLastGoodStateAndSaysSo) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(200, kNoon));
    const bool ran = runInChild(folder.path(), true, [&] {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{.journalLimit = 4'096});
        const UsageArchive good = store.archive();
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
        store.record(refresh(kNoon + kMinute, 10), kNoon + kMinute);
        store.flush();
        EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::saveErrorText));
        EXPECT_EQ(onDisk(file), good);
        EXPECT_FALSE(fs::exists(journalPath(file)));

        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::add);
        store.record(refresh(kNoon + 2 * kMinute, 11), kNoon + 2 * kMinute);
        store.flush();
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        EXPECT_EQ(onDisk(file), store.archive());

        // With the journal there, lines still go in until it must be folded in.
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
        int i = 3;
        for (; i < 40 && !store.persistenceError(); ++i) {
            store.record(refresh(kNoon + i * kMinute, 10 + i), kNoon + i * kMinute);
            store.flush();
            if (!store.persistenceError()) {
                EXPECT_EQ(onDisk(file), store.archive()) << i;
            }
        }
        EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::saveErrorText));
        const UsageArchive written = onDisk(file);
        EXPECT_NE(written, store.archive());
        fs::permissions(file.parent_path(), fs::perms::owner_write, fs::perm_options::add);
        store.record(refresh(kNoon + i * kMinute, 60), kNoon + i * kMinute);
        store.flush();
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        EXPECT_EQ(onDisk(file), store.archive());
    });
    ASSERT_TRUE(ran) << "could not run as an unprivileged user";
}

// --- Two instances, unreadable files, journals left behind --------------------------------------

TEST(UsageHistoryJournalTest, SecondStoreReadsTheJournalButNeverWrites) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(200, kNoon));
    UsageHistoryStore writer(file, kNoon, Calendar("UTC"), Saving{});
    writer.record(refresh(kNoon + kMinute, 10), kNoon + kMinute);
    writer.flush();
    ASSERT_TRUE(fs::exists(journalPath(file)));

    UsageHistoryStore reader(file, kNoon + kMinute, Calendar("UTC"), Saving{});
    EXPECT_FALSE(reader.isWriter());
    EXPECT_EQ(reader.persistenceError(), std::string(UsageHistoryStore::otherWriterText));
    EXPECT_EQ(reader.archive().series, writer.archive().series);
    const auto journal = platform::readFile(journalPath(file), kMaximumBytes);
    const auto archive = platform::readFile(file, kMaximumBytes);
    reader.record(refresh(kNoon + 2 * kMinute, 50), kNoon + 2 * kMinute);
    reader.flush();
    EXPECT_EQ(reader.archive().series.at("Codex|Codex-session").samples.back().usedPercent, 50);
    EXPECT_EQ(platform::readFile(journalPath(file), kMaximumBytes), journal);
    EXPECT_EQ(platform::readFile(file, kMaximumBytes), archive);
}

TEST(UsageHistoryJournalTest, UnreadableFileAndItsJournalAreRenamedAsideTogether) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const std::string newer = "{\"version\":2,\"series\":{}}";
    const std::string journal = "whatever a newer build keeps beside it\n";
    folder.write("Kestrane/usage-history-v1.json", newer);
    folder.write("Kestrane/usage-history-v1.json.journal", journal);
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{});
        EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::readErrorText));
        store.record(refresh(kNoon + 3 * kMinute, 7), kNoon + 3 * kMinute);
        store.flush();
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        EXPECT_EQ(onDisk(file), store.archive());
    }
    const auto folderPath = file.parent_path();
    EXPECT_EQ(platform::readFile(folderPath / "usage-history-v1.json.unreadable-20250310T120300Z",
                                 1 << 10),
              newer);
    EXPECT_EQ(
        platform::readFile(folderPath / "usage-history-v1.json.unreadable-20250310T120300Z.journal",
                           1 << 10),
        journal);
}

// What a crash or another program can leave in the journal, and what becomes of it.
TEST(UsageHistoryJournalTest, JournalThatDoesNotContinueTheFileIsNeverAppliedAndNeverLost) {
    testing::TempDirectory source;
    const auto sourceFile = historyFile(source);
    source.write("Kestrane/usage-history-v1.json", archiveText(300, kNoon));
    const std::string archive = *platform::readFile(sourceFile, kMaximumBytes);
    // A journal of three refreshes, as the writer leaves it.
    UsageArchive afterTwo;
    UsageArchive afterThree;
    {
        UsageHistoryStore store(sourceFile, kNoon, Calendar("UTC"), Saving{});
        for (int i = 1; i <= 3; ++i) {
            store.record(refresh(kNoon + i * kMinute, 10 + i), kNoon + i * kMinute);
            store.flush();
            if (i == 2) afterTwo = store.archive();
        }
        afterThree = store.archive();
        ASSERT_EQ(journalLines(sourceFile), 4u);
        fs::copy_file(journalPath(sourceFile), source.path() / "journal");
    }
    const std::string full = *platform::readFile(source.path() / "journal", kMaximumBytes);
    const std::size_t third = full.rfind('\n', full.size() - 2) + 1;
    const std::size_t headerEnd = full.find('\n');
    const std::size_t firstEnd = full.find('\n', headerEnd + 1);
    std::string damagedSecond = full;
    damagedSecond[full.find('\n', firstEnd + 1) - 5] ^= 1;
    // A later format's header, intact.
    std::string newerHeader = full;
    {
        std::string json = full.substr(17, headerEnd - 17);
        json.replace(json.find("\",1,\""), 5, "\",2,\"");
        char sum[17];
        std::snprintf(sum, sizeof sum, "%016llx",
                      static_cast<unsigned long long>(journal::contentHash(json)));
        newerHeader.replace(0, headerEnd, std::string(sum) + " " + json);
    }

    struct Case {
        const char* name;
        std::string journal;
        std::string archive;
        UsageArchive expected;
        bool keptAside;
    };
    const UsageArchive base = decodeArchive(archive);
    const Case cases[] = {
        {"complete", full, archive, afterThree, false},
        {"last line cut short by a crash", full.substr(0, third + (full.size() - third) / 2),
         archive, afterTwo, false},
        {"archive file replaced since (a crash between the two steps of a fold)", full,
         archiveText(300, kNoon + 1), decodeArchive(archiveText(300, kNoon + 1)), false},
        {"a line damaged in the middle", damagedSecond, archive, UsageArchive{}, true},
        {"a journal of a newer format", newerHeader, archive, base, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory folder;
        const auto file = historyFile(folder);
        folder.write("Kestrane/usage-history-v1.json", c.archive);
        folder.write("Kestrane/usage-history-v1.json.journal", c.journal);
        UsageArchive recorded;
        {
            UsageHistoryStore store(file, kNoon + 4 * kMinute, Calendar("UTC"), Saving{});
            if (c.name != std::string("a line damaged in the middle")) {
                EXPECT_EQ(store.archive(), c.expected);
            } else {
                // The first refresh's line reads; nothing after the damaged one is applied.
                EXPECT_EQ(sampleCount(store.archive()),
                          sampleCount(base) + 3 * model::allProviderKinds.size());
            }
            store.record(refresh(kNoon + 5 * kMinute, 40), kNoon + 5 * kMinute);
            store.flush();
            EXPECT_EQ(store.persistenceError(), std::nullopt);
            EXPECT_EQ(onDisk(file), store.archive());
            recorded = store.archive();
        }
        EXPECT_EQ(decodeArchive(*platform::readFile(file, kMaximumBytes)), recorded);
        const auto aside =
            file.parent_path() / "usage-history-v1.json.unreadable-20250310T120500Z.journal";
        EXPECT_EQ(fs::exists(aside), c.keptAside);
        if (c.keptAside) {
            EXPECT_EQ(platform::readFile(aside, kMaximumBytes), c.journal);
        }
    }
}

// The journal is read like any outside file: cut anywhere, it gives the state after its last
// complete line; with bytes changed anywhere, it gives the state after some line and never
// crashes.
TEST(UsageHistoryJournalTest, JournalCutOrChangedAnywhereReadsToALineBoundary) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    folder.write("Kestrane/usage-history-v1.json", archiveText(50, kNoon));
    const std::string archive = *platform::readFile(file, kMaximumBytes);
    std::vector<UsageArchive> states;  // after each line
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{});
        states.push_back(onDisk(file));
        for (int i = 1; i <= 4; ++i) {
            auto usages = refresh(kNoon + i * 7 * kMinute, 10 + i);
            // Escaped and non-ASCII window ids take the general parser's way.
            usages[0].windows[0].id = i % 2 ? "weekly \"Opus\" — 週" : "plain";
            store.record(usages, kNoon + i * 7 * kMinute);
            store.flush();
            states.push_back(store.archive());
        }
        fs::copy_file(journalPath(file), folder.path() / "journal");
    }
    const std::string journal = *platform::readFile(folder.path() / "journal", kMaximumBytes);
    const std::uint64_t hash = journal::contentHash(archive);
    std::vector<std::size_t> lineEnds;
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (journal[i] == '\n') lineEnds.push_back(i + 1);
    }
    ASSERT_EQ(lineEnds.size(), 5u);

    for (std::size_t cut = 0; cut <= journal.size(); ++cut) {
        UsageArchive replayed = decodeArchive(archive);
        const auto result = journal::replay(journal.substr(0, cut), hash, replayed);
        const auto complete = static_cast<std::size_t>(
            std::upper_bound(lineEnds.begin(), lineEnds.end(), cut) - lineEnds.begin());
        if (complete == 0) {
            ASSERT_EQ(result.outcome, journal::Replay::Outcome::otherArchive) << cut;
            ASSERT_EQ(replayed, decodeArchive(archive)) << cut;
            continue;
        }
        ASSERT_EQ(result.outcome, journal::Replay::Outcome::applied) << cut;
        ASSERT_EQ(result.validBytes, lineEnds[complete - 1]) << cut;
        ASSERT_EQ(replayed, states[complete - 1]) << cut;
    }

    std::mt19937 random(7);
    for (int round = 0; round < 2'000; ++round) {
        std::string changed = journal;
        const int edits = std::uniform_int_distribution<int>(1, 4)(random);
        for (int e = 0; e < edits; ++e) {
            const auto at =
                std::uniform_int_distribution<std::size_t>(0, changed.size() - 1)(random);
            changed[at] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        }
        UsageArchive replayed = decodeArchive(archive);
        const auto result = journal::replay(changed, hash, replayed);
        ASSERT_LE(result.validBytes, changed.size()) << round;
        // A change that hits a line's bytes fails its check: the state is the one before it.
        const auto complete = static_cast<std::size_t>(
            std::upper_bound(lineEnds.begin(), lineEnds.end(), result.validBytes) -
            lineEnds.begin());
        if (result.validBytes == 0) {
            ASSERT_EQ(replayed, decodeArchive(archive)) << round;
        } else {
            ASSERT_EQ(result.validBytes, lineEnds[complete - 1]) << round;
            ASSERT_EQ(replayed, states[complete - 1]) << round;
        }
    }
}

TEST(UsageHistoryJournalTest, FileOfAnEarlierBuildIsReadWhole) {
    testing::TempDirectory folder;
    const auto file = historyFile(folder);
    const std::string earlier = archiveText(5'000, kNoon);
    folder.write("Kestrane/usage-history-v1.json", earlier);
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"), Saving{});
        EXPECT_EQ(store.archive(), decodeArchive(earlier));
    }
    // Nothing recorded: nothing written, not even at quit.
    EXPECT_EQ(platform::readFile(file, kMaximumBytes), earlier);
    EXPECT_FALSE(fs::exists(journalPath(file)));
}

}  // namespace
}  // namespace kestrane::history
