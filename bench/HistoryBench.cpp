// Cost of recording into, saving and loading a full usage history: 15 windows of 12 000 samples
// each with 90 days of rhythm hours, about the largest archive the store keeps.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

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

}  // namespace

BENCHMARK(BM_RecordAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFileAtomically)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeArchiveGeneralParser)->Unit(benchmark::kMillisecond);
