#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "history/ArchiveChange.h"
#include "history/HistoryFiles.h"
#include "history/UsageArchive.h"
#include "platform/Date.h"

namespace kestrane::history {

// Writes the store's changes on a thread of its own, so the thread that records never waits
// for the disk. It keeps its own copy of the archive as the files hold it (the store's archive
// is read and changed on the recording thread only) and applies each handed-over list of
// changes to it. Whatever queued up while it was busy goes out as one write: one journal line,
// synced, or, when the journal would pass `journalLimit` (or there is no usable archive file,
// or an earlier write failed), the whole archive file, after which the journal starts over.
class BackgroundHistoryWriter {
  public:
    struct Options {
        std::size_t journalLimit = 2u << 20;
        // Runs on the writer's thread before each write.
        std::function<void()> beforeWrite;
    };
    enum class Outcome { none, written, failed, unreadableFileStays };

    // `disk` is what the files hold now (as `state` describes them).
    BackgroundHistoryWriter(std::filesystem::path archiveFile, HistoryFileState state,
                            UsageArchive disk, Options options);
    // Stops if not stopped yet.
    ~BackgroundHistoryWriter();
    BackgroundHistoryWriter(const BackgroundHistoryWriter&) = delete;
    BackgroundHistoryWriter& operator=(const BackgroundHistoryWriter&) = delete;

    // Changes made since the last hand-over, in order; `now` names files renamed aside.
    void submit(std::vector<ArchiveChange> changes, platform::Date now);
    // The whole archive, replacing the writer's copy and written whole: after a change that did
    // not fit the writer's copy (wantsSnapshot), nothing else is written until this comes.
    void replaceAll(UsageArchive archive, platform::Date now);
    bool wantsSnapshot() const;
    // Blocks until everything handed over so far was written (or failed).
    void flush();
    // Completes every write handed over, folds the journal into the archive file and ends the
    // thread; nothing handed over after it is written.
    void stop();

    // How the last write went; `none` before the first.
    Outcome outcome() const;
    WriteStatistics statistics() const;

  private:
    struct Job {
        std::vector<ArchiveChange> changes;
        std::optional<UsageArchive> snapshot;
        platform::Date now;
    };

    void run();
    void process(std::vector<Job>& jobs);
    void writeWhole(platform::Date now);
    void finish();
    void report(HistoryFileWriter::Outcome outcome);

    // Touched by the writer's thread only.
    HistoryFileWriter files_;
    UsageArchive disk_;
    Options options_;
    // Journal lines whose changes are in disk_ but not yet on disk.
    std::string unwritten_;
    // disk_ holds changes the files do not.
    bool behind_ = false;
    // The files cannot take a journal line: the next write is the whole archive.
    bool writeWholeNext_ = false;
    // A change did not fit disk_: nothing is written until the whole archive comes.
    bool broken_ = false;
    platform::Date lastNow_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<Job> queue_;
    std::size_t submitted_ = 0;
    std::size_t completed_ = 0;
    bool stopping_ = false;
    bool wantsSnapshot_ = false;
    Outcome outcome_ = Outcome::none;
    WriteStatistics statistics_;

    std::thread thread_;
};

}  // namespace kestrane::history
