#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "history/HistoryTestSupport.h"
#include "history/UsageArchive.h"
#include "history/UsageHistoryStore.h"
#include "platform/Files.h"
#include "support/TempDirectory.h"

namespace kestrane::history {
namespace {

using platform::Calendar;
using test::kNoon;
using test::recordNow;
using test::usage;
using test::window;

std::size_t sampleCount(const UsageArchive& archive) {
    std::size_t count = 0;
    for (const auto& [key, series] : archive.series) count += series.samples.size();
    return count;
}

// A child process records observations as fast as it can and reports each finished save on a
// pipe; the parent kills it with SIGKILL after a random number of saves, i.e. at a random
// point of a later save. Whatever the moment, the file must be a complete archive holding at
// least every save that was reported.
TEST(UsageHistoryCrashSafetyTest, KilledWriterNeverLeavesATruncatedFile) {
    testing::TempDirectory folder;
    const auto file = folder.path() / "Kestrane" / "usage-history-v1.json";

    // Start from a few thousand samples so that each save takes a while to write.
    {
        UsageArchive archive;
        UsageSeries series{model::ProviderKind::claude,
                           "claude-session",
                           UsageHistoryStore::accountDigest(usage(kNoon, {})),
                           300,
                           std::nullopt,
                           {}};
        for (int i = 0; i < 4000; ++i) {
            series.samples.push_back(UsageSample{kNoon + i * 61.0, i * 0.02, i == 0, std::nullopt});
        }
        archive.series["Claude|claude-session"] = series;
        folder.write("Kestrane/usage-history-v1.json", encodeArchive(archive));
    }

    std::mt19937 random(20'250'310);
    double next = kNoon.secondsSince1970 + 4000 * 61.0;
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const auto before = platform::readFile(file, 64 << 20);
        ASSERT_TRUE(before);
        const std::size_t startCount = sampleCount(decodeArchive(*before));

        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const double firstDate = next;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            UsageHistoryStore store(file, platform::Date{firstDate}, Calendar("UTC"));
            for (double t = firstDate;; t += 61) {
                recordNow(store, usage(platform::Date{t}, {window("claude-session", 80)}));
                const char done = store.persistenceError() ? 'e' : 's';
                if (::write(pipeEnds[1], &done, 1) != 1) ::_exit(1);
            }
        }
        ::close(pipeEnds[1]);
        const int saves = std::uniform_int_distribution<int>(1, 4)(random);
        int reported = 0;
        for (; reported < saves;) {
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
        // Saves the parent did not read yet may also have landed; count them for the next round.
        char pending[256];
        ssize_t unread = 0;
        for (ssize_t count; (count = ::read(pipeEnds[0], pending, sizeof pending)) > 0;) {
            unread += count;
        }
        ::close(pipeEnds[0]);

        const auto after = platform::readFile(file, 64 << 20);
        ASSERT_TRUE(after);
        UsageArchive archive;
        ASSERT_NO_THROW(archive = decodeArchive(*after)) << "file of " << after->size() << " bytes";
        const std::size_t count = sampleCount(archive);
        EXPECT_GE(count, startCount + static_cast<std::size_t>(reported));
        EXPECT_LE(count, startCount + static_cast<std::size_t>(reported + unread) + 1);
        next = archive.series.at("Claude|claude-session").samples.back().date.secondsSince1970 + 61;
    }
}

}  // namespace
}  // namespace kestrane::history
