#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/ArchiveChange.h"
#include "history/HistoryFiles.h"
#include "history/RhythmHistory.h"
#include "history/UsageArchive.h"
#include "history/UsageSeries.h"
#include "model/LimitWindow.h"
#include "model/ProviderKind.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"
#include "platform/Environment.h"
#include "platform/FileLock.h"

namespace kestrane::history {

class BackgroundHistoryWriter;
class HistoryFileWriter;

// Everything observed of every quota window across launches: a 7-day series per window and
// its learned hourly rhythm (90 days), kept in one JSON file and the journal of changes beside
// it (HistoryFiles.h). Lives on one thread (the main thread in the application) for its life.
// One store per file writes it: the first to open a file holds an OS lock on it (a ".lock"
// file beside it) and any other store opened on the same file only reads it.
//
// By default every change rewrites the whole file before `record` returns. With
// BackgroundSaving (the application), the archive in memory is the authority: `record` changes
// it and hands the changes (with those of `pruneExpired` before it) to a writer thread, which
// appends them to the journal as one synced line per hand-over and folds the journal into the
// file when it grows past a bound and at finishWriting. Reads never wait for the disk.
class UsageHistoryStore {
  public:
    struct BackgroundSaving {
        // The journal is folded into the archive file once it would grow past this.
        std::size_t journalLimit = 2u << 20;
        // Runs on the writer's thread before each write (tests hold the writer up with it).
        std::function<void()> beforeWrite;
    };

    static constexpr std::size_t maximumSamples = 12'000;
    static constexpr double visibleHistorySeconds = 604'800;   // 7 days
    static constexpr double rhythmHistorySeconds = 7'776'000;  // 90 days
    // How far past the machine's clock a date may lie and still count: a little skew between
    // a provider's clock and ours is normal, a date beyond that is not a real observation time.
    static constexpr double futureTolerance = 300;
    // Files that could not be read are renamed aside, never overwritten; this many are kept.
    static constexpr std::size_t keptUnreadableFiles = history::keptUnreadableFiles;

    static constexpr std::string_view readErrorText =
        "Не удалось прочитать историю. Новые наблюдения начнутся с текущего значения.";
    static constexpr std::string_view saveErrorText =
        "История доступна в этой сессии, но не сохраняется на диск.";
    static constexpr std::string_view otherWriterText =
        "История уже ведётся другим запущенным экземпляром Kestrane: этот экземпляр её не "
        "записывает.";

    // `filePath` absent keeps the history in memory only. Loads the file when it exists; a file
    // that cannot be read leaves an empty history and the read error text, and is renamed to
    // "<name>.unreadable-<UTC date-time>" before the first save. Samples and rhythm hours
    // dated more than `futureTolerance` after `now` are dropped. When another store holds
    // the file's lock, this one reads it but never writes (otherWriterText).
    UsageHistoryStore(std::optional<std::filesystem::path> filePath, platform::Date now,
                      platform::Calendar calendar,
                      std::optional<BackgroundSaving> background = std::nullopt);
    // With BackgroundSaving: completes the writes handed over, then folds the journal in.
    ~UsageHistoryStore();
    UsageHistoryStore(UsageHistoryStore&&) noexcept;
    UsageHistoryStore& operator=(UsageHistoryStore&&) = delete;

    // "Kestrane/usage-history-v1.json" in the user's data folder ($XDG_DATA_HOME, else
    // ~/.local/share).
    static std::filesystem::path defaultFilePath(const platform::Environment& environment);

    // Adds one successful fetch and saves. Snapshots not newer than what is stored are ignored.
    // `now` is the machine's clock: a snapshot dated more than `futureTolerance` after it is
    // recorded at `now`, and stored dates beyond that are dropped first (the clock was wrong
    // when they were written).
    void record(const model::ProviderUsage& usage, platform::Date now);
    // One refresh's successful snapshots, each recorded as above, then saved at most once.
    void record(const std::vector<model::ProviderUsage>& usages, platform::Date now);
    // The window's series trimmed to the visible 7 days, when it still matches the window.
    std::optional<UsageSeries> series(model::ProviderKind provider,
                                      const model::LimitWindow& window, platform::Date now) const;
    // The window's rhythm, when it was learned in the current time zone for the same length.
    std::optional<RhythmHistory> rhythm(model::ProviderKind provider,
                                        const model::LimitWindow& window) const;
    // Drops what has aged out, and what lies beyond `now` plus the tolerance; saves only when
    // something was dropped. With BackgroundSaving the drop goes out with the next record's
    // write (or flush): a refresh prunes first and records after.
    void pruneExpired(platform::Date now);
    // With BackgroundSaving: hands over what is pending and blocks until it is written.
    void flush();
    // With BackgroundSaving: flushes, folds the journal into the archive file and stops the
    // writer; nothing is written after it. The destructor does it, and so must a process that
    // ends without running destructors.
    void finishWriting();

    // With BackgroundSaving a write's failure shows once the writer got to it.
    std::optional<std::string> persistenceError() const;
    const UsageArchive& archive() const { return archive_; }
    const platform::Calendar& calendar() const { return calendar_; }
    // False when another store holds this file: nothing is written, ever.
    bool isWriter() const { return !readOnly_; }
    // The application hands in the current calendar again when the system time zone changes.
    // Rhythms learned in the old zone are then no longer offered and restart in the new one.
    void setCalendar(platform::Calendar calendar) { calendar_ = std::move(calendar); }

    // SHA-256 of the trimmed lower-cased e-mail (or "anonymous") and the plan, as 64 hex digits.
    static std::string accountDigest(const model::ProviderUsage& usage);
    static std::string key(model::ProviderKind provider, std::string_view windowID);
    // Both absent, or both present and at most 60 s apart.
    static bool sameReset(std::optional<platform::Date> a, std::optional<platform::Date> b);
    // What happened between the series' last sample and the window observed at `date`.
    static std::optional<UsageTransition> transition(const UsageSeries& series,
                                                     const model::LimitWindow& window,
                                                     platform::Date date);
    // Keeps exactly one sample older than 7 days in front, so a chart can start at its edge.
    static void trim(UsageSeries& series, platform::Date now);
    // Halves the density of the older half of an over-long series, keeping the first sample,
    // every transition and the sample before it.
    static std::vector<UsageSample> thinned(const std::vector<UsageSample>& samples);

    // What was written so far (for measurements).
    WriteStatistics writeStatistics() const;

  private:
    // Applies one snapshot; false when the store today would not save after it.
    bool apply(const model::ProviderUsage& usage, platform::Date now);
    void prune(platform::Date now);
    // Drops samples and rhythm hours dated after now + futureTolerance; true when any were.
    bool dropFutureEntries(platform::Date now);
    // The digest the snapshot is recorded under, after discarding another account's history.
    std::string settleAccount(const model::ProviderUsage& usage);
    // Writes now (without BackgroundSaving) or hands the changes over to the writer.
    void save(platform::Date now);
    void flushChanges(platform::Date now);
    void rebuildMissingRhythms();
    // A date the archive now holds (a sample's, or an hour's start) moves the bounds below.
    void widenBounds(platform::Date date);
    // Keeps a change for the writer (with BackgroundSaving only).
    void note(ArchiveChange change);
    void noteWholeSeries(const std::string& key, const UsageSeries& series);
    void noteWholeRhythm(const std::string& key, const RhythmHistory& rhythm);

    std::optional<std::filesystem::path> filePath_;
    std::optional<platform::FileLock> lock_;
    bool readOnly_ = false;
    platform::Calendar calendar_;
    UsageArchive archive_;
    std::optional<std::string> persistenceError_;
    // Saving on this thread (without BackgroundSaving).
    std::unique_ptr<HistoryFileWriter> files_;
    // Saving on the writer's thread, and the changes made since the last hand-over.
    std::unique_ptr<BackgroundHistoryWriter> writer_;
    bool tracking_ = false;
    std::vector<ArchiveChange> changes_;
    // What the writer did before finishWriting ended it.
    WriteStatistics finished_;
    // The clock of the last call: names files renamed aside by a write at quit.
    platform::Date lastNow_;
    // No sample date or hour start in the archive lies after latestDate_, no hour starts before
    // earliestHour_ (seconds since 1970; infinite while not known). The checks every record
    // makes over the whole archive (dates beyond the clock, hours past 90 days) skip it when
    // the bound shows that nothing can qualify, and set the bound afresh when they look.
    double latestDate_ = std::numeric_limits<double>::infinity();
    double earliestHour_ = -std::numeric_limits<double>::infinity();
};

}  // namespace kestrane::history
