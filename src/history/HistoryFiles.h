#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "history/UsageArchive.h"
#include "platform/Date.h"

namespace kestrane::history {

// The history on disk: the archive file ("usage-history-v1.json", the whole archive, the form
// every build reads) and beside it the journal ("usage-history-v1.json.journal", the changes
// made since that file was written; see ArchiveJournal.h).

std::filesystem::path journalPath(const std::filesystem::path& archiveFile);

// What a writer continuing the files must know of them.
struct HistoryFileState {
    // Hash of the archive file's bytes; nullopt when there is no usable archive file, and the
    // next write must be a whole one.
    std::optional<std::uint64_t> archiveHash;
    // Usable bytes of the journal (whatever follows, a line cut short, is cut off by the next
    // append); 0 when the next append starts a new journal.
    std::size_t journalBytes = 0;
    // The archive file exists but cannot be read: it (and its journal) are renamed aside before
    // the first write, never written over.
    bool unreadableArchive = false;
    // The journal cannot be read to its end: renamed aside before the next (whole) write.
    bool damagedJournal = false;
};

// What a writer wrote so far (for measurements): journal lines (each one write) and whole
// archive files.
struct WriteStatistics {
    std::size_t appends = 0;
    std::uint64_t journalBytes = 0;
    std::size_t wholeWrites = 0;
    std::uint64_t wholeBytes = 0;

    std::size_t writes() const { return appends + wholeWrites; }
    std::uint64_t bytes() const { return journalBytes + wholeBytes; }
};

struct LoadedHistory {
    UsageArchive archive;
    HistoryFileState files;
};

// Reads the archive file (at most `maximumBytes`) and applies its journal. A missing file gives
// an empty archive. Another process may be writing the files: with `retryForOtherArchive`, a
// journal that continues another archive file (the writer replaced both between our two reads)
// makes it read both again, a few times.
LoadedHistory loadHistoryFiles(const std::filesystem::path& archiveFile, std::size_t maximumBytes,
                               bool retryForOtherArchive);

// The one writer's operations on the files. Not thread-safe: one thread at a time.
class HistoryFileWriter {
  public:
    enum class Outcome {
        written,
        failed,
        // The unreadable archive file could not be renamed aside: nothing was written.
        unreadableFileStays,
    };

    HistoryFileWriter(std::filesystem::path archiveFile, HistoryFileState state);
    ~HistoryFileWriter();
    HistoryFileWriter(const HistoryFileWriter&) = delete;
    HistoryFileWriter& operator=(const HistoryFileWriter&) = delete;

    // Replaces the archive file with `archive` (temporary file, fsync, rename), so a crash
    // leaves the old or the new file, then removes the journal it included. `now` names the
    // files renamed aside.
    Outcome writeWhole(const UsageArchive& archive, platform::Date now);
    // False when the next write must be a whole one.
    bool canAppend() const;
    // Appends complete journal lines and syncs them; the journal's header comes first when the
    // journal is new. On failure what was there stays as it was.
    Outcome append(std::string_view lines);
    std::size_t journalBytes() const { return state_.journalBytes; }
    const WriteStatistics& statistics() const { return statistics_; }

  private:
    void closeJournal();

    std::filesystem::path archiveFile_;
    std::filesystem::path journalFile_;
    HistoryFileState state_;
    int journalFd_ = -1;
    WriteStatistics statistics_;
};

// Files renamed aside because they could not be read: "<archive name>.unreadable-<UTC
// date-time>", and a journal that could not be used beside it with ".journal" appended.
inline constexpr std::size_t keptUnreadableFiles = 3;

}  // namespace kestrane::history
