// Cost of recording into, saving and loading a full usage history: 15 windows of 12 000 samples
// each with 90 days of rhythm hours, about the largest archive the store keeps.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "history/ArchiveJournal.h"
#include "history/HistoryFiles.h"
#include "history/UsageArchive.h"
#include "history/UsageHistoryStore.h"
#include "platform/Calendar.h"
#include "platform/Files.h"

namespace {

using kestrane::history::RhythmHistory;
using kestrane::history::RhythmHour;
using kestrane::history::UsageArchive;
using kestrane::history::UsageHistoryStore;
using kestrane::history::UsageSample;
using kestrane::history::UsageSeries;
using kestrane::model::LimitWindow;
using kestrane::model::ProviderKind;
using kestrane::model::ProviderUsage;
using kestrane::platform::Calendar;
using kestrane::platform::Date;

constexpr Date kNow{1'741'608'000};
constexpr int kWindowsPerProvider = 3;

ProviderUsage usageAt(ProviderKind provider, Date at, double used) {
    ProviderUsage usage;
    usage.provider = provider;
    usage.email = "user@example.com";
    usage.plan = "Pro";
    usage.updatedAt = at;
    for (int w = 0; w < kWindowsPerProvider; ++w) {
        usage.windows.push_back(
            LimitWindow{"window-" + std::to_string(w), "", used, 300, at + 3600});
    }
    return usage;
}

UsageArchive fullArchive() {
    UsageArchive archive;
    const std::string digest =
        UsageHistoryStore::accountDigest(usageAt(ProviderKind::codex, kNow, 0));
    for (const ProviderKind provider : kestrane::model::allProviderKinds) {
        for (int w = 0; w < kWindowsPerProvider; ++w) {
            const std::string id = "window-" + std::to_string(w);
            UsageSeries series{provider, id, digest, 300, kNow + 3600, {}};
            // 12 000 samples 50.3 s apart end just now and span under 7 days.
            for (int i = 0; i < 12'000; ++i) {
                series.samples.push_back(UsageSample{kNow - (12'000 - i) * 50.3 + 0.123,
                                                     (i % 6000) * 0.0125, i % 6000 == 0,
                                                     std::nullopt});
            }
            const auto key = UsageHistoryStore::key(provider, id);
            archive.series[key] = series;
            RhythmHistory rhythm{digest, 300, "Europe/Berlin", {}};
            // The last 2 160 whole hours, the oldest right at the 90-day cut-off, so that
            // loading keeps them all (an expired hour would make every load save).
            for (int hour = 2160; hour >= 1; --hour) {
                rhythm.hours.push_back(RhythmHour{Date{kNow.secondsSince1970 - hour * 3600.0},
                                                  (hour % 7) * 0.37, 3000.0 + hour % 600});
            }
            archive.rhythms[key] = rhythm;
        }
    }
    return archive;
}

class Folder {
  public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrane-bench-XXXXXX");
        path = mkdtemp(pattern.data());
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

std::filesystem::path writeFullArchive(const Folder& folder) {
    const auto file = folder.path / "usage-history-v1.json";
    kestrane::platform::writeFileAtomically(
        file, kestrane::history::encodeArchive(fullArchive()),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return file;
}

// One refresh of one provider (three windows) into the full archive, with its atomic save.
void BM_RecordAndSave(benchmark::State& state) {
    Folder folder;
    const auto file = writeFullArchive(folder);
    UsageHistoryStore store(file, kNow, Calendar("Europe/Berlin"));
    if (store.persistenceError()) state.SkipWithError("load failed");
    double t = kNow.secondsSince1970 + 61;
    for (auto _ : state) {
        store.record(usageAt(ProviderKind::claude, Date{t}, 80), Date{t});
        t += 61;
    }
    if (store.persistenceError()) state.SkipWithError("save failed");
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
}

// The parts of a save: encoding the archive and writing the bytes (temporary file, fsync,
// rename).
void BM_EncodeArchive(benchmark::State& state) {
    const auto archive = fullArchive();
    for (auto _ : state) benchmark::DoNotOptimize(kestrane::history::encodeArchive(archive));
}

void BM_WriteFileAtomically(benchmark::State& state) {
    Folder folder;
    const std::string data = kestrane::history::encodeArchive(fullArchive());
    const auto file = folder.path / "usage-history-v1.json";
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrane::platform::writeFileAtomically(
            file, data, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
    }
}

// Loading at start-up: read, decode, prune.
void BM_LoadStore(benchmark::State& state) {
    Folder folder;
    const auto file = writeFullArchive(folder);
    for (auto _ : state) {
        UsageHistoryStore store(file, kNow, Calendar("Europe/Berlin"));
        if (store.archive().series.size() != 15) state.SkipWithError("load failed");
    }
}

void BM_ReadFile(benchmark::State& state) {
    Folder folder;
    const auto file = writeFullArchive(folder);
    for (auto _ : state) benchmark::DoNotOptimize(kestrane::platform::readFile(file, 1 << 30));
}

void BM_DecodeArchive(benchmark::State& state) {
    const std::string data = kestrane::history::encodeArchive(fullArchive());
    for (auto _ : state) benchmark::DoNotOptimize(kestrane::history::decodeArchive(data));
}

// A file the quick tokenizer does not take (here through a byte order mark in front; escaped or
// non-ASCII strings from another writer do the same): nlohmann's parser supplies the events.
void BM_DecodeArchiveGeneralParser(benchmark::State& state) {
    const std::string data = "\xEF\xBB\xBF" + kestrane::history::encodeArchive(fullArchive());
    for (auto _ : state) benchmark::DoNotOptimize(kestrane::history::decodeArchive(data));
}

// --- Refreshes of five providers ---------------------------------------------------------------

// What the process handed to write() and what it sent to the disk, from /proc/self/io.
struct ProcessIo {
    std::uint64_t handed = 0;
    std::uint64_t disk = 0;

    static ProcessIo now() {
        ProcessIo io;
        std::ifstream file("/proc/self/io");
        std::string name;
        std::uint64_t value = 0;
        std::uint64_t cancelled = 0;
        while (file >> name >> value) {
            if (name == "wchar:") io.handed = value;
            if (name == "write_bytes:") io.disk = value;
            if (name == "cancelled_write_bytes:") cancelled = value;
        }
        io.disk -= std::min(io.disk, cancelled);
        return io;
    }
};

// CPU time of the calling thread: unlike the wall clock, not stretched by other processes.
double threadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Resets that stay ahead of every refresh a run makes, so no window changes its period.
Date resetOf(int window) { return kNow + (window == 0 ? 2 : 7) * 86'400.0; }

// `percent` of the full archive: as many samples per window (over the same 7 days, ending now)
// and as many rhythm hours (ending now).
UsageArchive archiveAt(int percent) {
    UsageArchive archive;
    const std::string digest =
        UsageHistoryStore::accountDigest(usageAt(ProviderKind::codex, kNow, 0));
    const int samples = 12'000 * percent / 100;
    const int hours = 2160 * percent / 100;
    const double spacing = 12'000 * 50.3 / samples;
    for (const ProviderKind provider : kestrane::model::allProviderKinds) {
        for (int w = 0; w < kWindowsPerProvider; ++w) {
            const std::string id = "window-" + std::to_string(w);
            UsageSeries series{provider, id, digest, 300, std::nullopt, {}};
            if (w < 2) series.resetsAt = resetOf(w);
            for (int i = 0; i < samples; ++i) {
                series.samples.push_back(UsageSample{kNow - (samples - i) * spacing + 0.123,
                                                     (i % 6000) * 0.0125, i % 6000 == 0,
                                                     std::nullopt});
            }
            const auto key = UsageHistoryStore::key(provider, id);
            archive.series[key] = series;
            RhythmHistory rhythm{digest, 300, "Europe/Berlin", {}};
            for (int hour = hours; hour >= 1; --hour) {
                rhythm.hours.push_back(RhythmHour{Date{kNow.secondsSince1970 - hour * 3600.0},
                                                  (hour % 7) * 0.37, 3000.0 + hour % 600});
            }
            archive.rhythms[key] = rhythm;
        }
    }
    return archive;
}

// One refresh: every provider answered, three windows each.
std::vector<ProviderUsage> refreshAt(Date at, double used) {
    std::vector<ProviderUsage> usages;
    for (const ProviderKind provider : kestrane::model::allProviderKinds) {
        ProviderUsage usage;
        usage.provider = provider;
        usage.email = "user@example.com";
        usage.plan = "Pro";
        usage.updatedAt = at;
        for (int w = 0; w < kWindowsPerProvider; ++w) {
            usage.windows.push_back(LimitWindow{"window-" + std::to_string(w), "", used, 300,
                                                w < 2 ? std::optional(resetOf(w)) : std::nullopt});
        }
        usages.push_back(std::move(usage));
    }
    return usages;
}

std::filesystem::path writeArchive(const Folder& folder, const UsageArchive& archive) {
    const auto file = folder.path / "usage-history-v1.json";
    kestrane::platform::writeFileAtomically(
        file, kestrane::history::encodeArchive(archive),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return file;
}

// Used share 61 s apart: slowly growing, never falling, so no refresh is a transition.
double usedAt(std::int64_t refresh) { return 5 + std::fmod(refresh * 0.01, 90); }

// Before: each provider's record rewrote the whole file on the recording thread. Time is the
// recording thread's per refresh; bytes are per refresh.
void BM_RefreshSavedWhole(benchmark::State& state) {
    Folder folder;
    const auto file = writeArchive(folder, archiveAt(100));
    UsageHistoryStore store(file, kNow, Calendar("Europe/Berlin"));
    const ProcessIo before = ProcessIo::now();
    std::int64_t n = 0;
    for (auto _ : state) {
        ++n;
        const Date at = kNow + n * 61.0;
        for (const auto& usage : refreshAt(at, usedAt(n))) store.record(usage, at);
    }
    if (store.persistenceError()) state.SkipWithError("save failed");
    const ProcessIo after = ProcessIo::now();
    state.counters["stored_per_refresh"] = static_cast<double>(store.writeStatistics().bytes()) / n;
    state.counters["handed_per_refresh"] = static_cast<double>(after.handed - before.handed) / n;
    state.counters["disk_per_refresh"] = static_cast<double>(after.disk - before.disk) / n;
}

// After: one call per refresh records all five, the writer thread appends one journal line and
// folds the journal into the file whenever it would pass its 2 MiB bound. Time is what the
// recording thread spends in record(); the writer's work is waited for outside the timing, so
// each refresh is one write as in the application (one refresh every 60 or 300 s). Bytes are
// everything written during the run, folds included, per refresh. The argument is how full
// the archive is at the start, in percent.
void BM_Refresh(benchmark::State& state) {
    Folder folder;
    const auto file = writeArchive(folder, archiveAt(static_cast<int>(state.range(0))));
    std::optional<UsageHistoryStore> store;
    store.emplace(file, kNow, Calendar("Europe/Berlin"), UsageHistoryStore::BackgroundSaving{});
    store->flush();
    const ProcessIo before = ProcessIo::now();
    const auto written = store->writeStatistics();
    std::int64_t n = 0;
    double longest = 0;
    double longestCPU = 0;
    double longestAt = 0;
    auto usages = refreshAt(kNow + 61, usedAt(1));
    for (auto _ : state) {
        ++n;
        const auto start = std::chrono::steady_clock::now();
        const double startCPU = threadSeconds();
        store->record(usages, kNow + n * 61.0);
        const double cpu = (threadSeconds() - startCPU) * 1000;
        if (cpu > longestCPU) {
            longestCPU = cpu;
            longestAt = static_cast<double>(n);
        }
        longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
        state.PauseTiming();
        store->flush();
        usages = refreshAt(kNow + (n + 1) * 61.0, usedAt(n + 1));
        state.ResumeTiming();
    }
    if (store->persistenceError()) state.SkipWithError("save failed");
    const ProcessIo after = ProcessIo::now();
    const auto now = store->writeStatistics();
    std::size_t samples = 0;
    for (const auto& [key, series] : store->archive().series) samples += series.samples.size();
    const auto perRefresh = [&](auto value) {
        return static_cast<double>(value) / static_cast<double>(n);
    };
    state.counters["journal_per_refresh"] = perRefresh(now.journalBytes - written.journalBytes);
    state.counters["whole_per_refresh"] = perRefresh(now.wholeBytes - written.wholeBytes);
    state.counters["whole_writes"] = static_cast<double>(now.wholeWrites - written.wholeWrites);
    state.counters["stored_per_refresh"] = perRefresh(now.bytes() - written.bytes());
    state.counters["handed_per_refresh"] = perRefresh(after.handed - before.handed);
    state.counters["disk_per_refresh"] = perRefresh(after.disk - before.disk);
    state.counters["writes_per_refresh"] = perRefresh(now.writes() - written.writes());
    state.counters["longest_ms"] = longest;
    state.counters["longest_cpu_ms"] = longestCPU;
    // The refresh that took it (the first thins every window of the full archive at once).
    state.counters["longest_cpu_at"] = longestAt;
    state.counters["samples_per_window_end"] = static_cast<double>(samples) / 15;
    state.counters["archive_bytes_end"] = static_cast<double>(std::filesystem::file_size(file));
}

// A full journal (2 MiB, about 700 refreshes of five providers) next to the full archive file
// it continues, as a crash leaves them.
struct JournalFiles {
    std::string archive;
    std::string journal;
    Date last;
};

const JournalFiles& fullJournal() {
    static const JournalFiles files = [] {
        Folder folder;
        const auto file = writeArchive(folder, archiveAt(100));
        const auto journal = kestrane::history::journalPath(file);
        JournalFiles made;
        UsageHistoryStore store(file, kNow, Calendar("Europe/Berlin"),
                                UsageHistoryStore::BackgroundSaving{.journalLimit = 1u << 30});
        for (std::int64_t n = 1;; ++n) {
            made.last = kNow + n * 61.0;
            store.record(refreshAt(made.last, usedAt(n)), made.last);
            store.flush();
            if (std::filesystem::file_size(journal) + 4096 > (2u << 20)) break;
        }
        made.archive = *kestrane::platform::readFile(file, 1u << 30);
        made.journal = *kestrane::platform::readFile(journal, 1u << 30);
        return made;
    }();
    return files;
}

// Replaying that journal onto the decoded archive.
void BM_ReplayJournal(benchmark::State& state) {
    const JournalFiles& files = fullJournal();
    const UsageArchive base = kestrane::history::decodeArchive(files.archive);
    const std::uint64_t hash = kestrane::history::journal::contentHash(files.archive);
    for (auto _ : state) {
        state.PauseTiming();
        UsageArchive archive = base;
        state.ResumeTiming();
        const auto replay = kestrane::history::journal::replay(files.journal, hash, archive);
        if (replay.outcome != kestrane::history::journal::Replay::Outcome::applied) {
            state.SkipWithError("replay failed");
        }
        state.PauseTiming();
        archive = UsageArchive{};
        state.ResumeTiming();
    }
    state.counters["journal_bytes"] = static_cast<double>(files.journal.size());
}

// Loading at start-up after a crash left the journal at its bound (about 700 refreshes of five
// providers on the full archive): read the file and the journal, decode, replay, prune, and
// start the writer with its copy of the archive.
void BM_LoadStoreWithFullJournal(benchmark::State& state) {
    Folder folder;
    const JournalFiles& files = fullJournal();
    const auto file = folder.path / "usage-history-v1.json";
    const auto journal = kestrane::history::journalPath(file);
    const Date last = files.last;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(file, std::ios::binary | std::ios::trunc) << files.archive;
        std::ofstream(journal, std::ios::binary | std::ios::trunc) << files.journal;
        state.ResumeTiming();
        std::optional<UsageHistoryStore> store;
        store.emplace(file, last, Calendar("Europe/Berlin"), UsageHistoryStore::BackgroundSaving{});
        if (store->archive().series.size() != 15) state.SkipWithError("load failed");
        state.PauseTiming();
        // Folds the journal in at quit: not part of the load.
        store.reset();
        state.ResumeTiming();
    }
    state.counters["journal_bytes"] = static_cast<double>(files.journal.size());
}

}  // namespace

BENCHMARK(BM_RecordAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFileAtomically)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeArchiveGeneralParser)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshSavedWhole)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Refresh)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond)->Iterations(1500);
// Long enough for several whole writes at the 2 MiB journal bound.
BENCHMARK(BM_Refresh)->Arg(100)->Unit(benchmark::kMicrosecond)->Iterations(4000);
BENCHMARK(BM_ReplayJournal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadStoreWithFullJournal)->Unit(benchmark::kMillisecond);
