#include "history/BackgroundHistoryWriter.h"

#include "history/ArchiveJournal.h"

namespace kestrane::history {

BackgroundHistoryWriter::BackgroundHistoryWriter(std::filesystem::path archiveFile,
                                                 HistoryFileState state, UsageArchive disk,
                                                 Options options)
    : files_(std::move(archiveFile), state),
      disk_(std::move(disk)),
      options_(std::move(options)),
      writeWholeNext_(!files_.canAppend()),
      thread_([this] { run(); }) {}

BackgroundHistoryWriter::~BackgroundHistoryWriter() { stop(); }

void BackgroundHistoryWriter::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BackgroundHistoryWriter::submit(std::vector<ArchiveChange> changes, platform::Date now) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(Job{std::move(changes), std::nullopt, now});
        ++submitted_;
    }
    wake_.notify_one();
}

void BackgroundHistoryWriter::replaceAll(UsageArchive archive, platform::Date now) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(Job{{}, std::move(archive), now});
        ++submitted_;
        wantsSnapshot_ = false;
    }
    wake_.notify_one();
}

bool BackgroundHistoryWriter::wantsSnapshot() const {
    const std::lock_guard lock(mutex_);
    return wantsSnapshot_;
}

void BackgroundHistoryWriter::flush() {
    std::unique_lock lock(mutex_);
    const std::size_t target = submitted_;
    done_.wait(lock, [&] { return completed_ >= target; });
}

BackgroundHistoryWriter::Outcome BackgroundHistoryWriter::outcome() const {
    const std::lock_guard lock(mutex_);
    return outcome_;
}

WriteStatistics BackgroundHistoryWriter::statistics() const {
    const std::lock_guard lock(mutex_);
    return statistics_;
}

void BackgroundHistoryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) break;
        std::vector<Job> jobs = std::move(queue_);
        queue_.clear();
        lock.unlock();
        process(jobs);
        lock.lock();
        completed_ += jobs.size();
        done_.notify_all();
    }
    lock.unlock();
    finish();
}

void BackgroundHistoryWriter::process(std::vector<Job>& jobs) {
    std::vector<ArchiveChange> changes;
    for (Job& job : jobs) {
        lastNow_ = job.now;
        if (job.snapshot) {
            // Holds every change handed over before it.
            disk_ = std::move(*job.snapshot);
            broken_ = false;
            behind_ = true;
            writeWholeNext_ = true;
            changes.clear();
            unwritten_.clear();
            continue;
        }
        if (broken_) continue;
        for (ArchiveChange& change : job.changes) {
            if (!applyChange(disk_, change)) {
                // The copy no longer follows the store: only the whole archive can repair it.
                broken_ = true;
                const std::lock_guard lock(mutex_);
                wantsSnapshot_ = true;
                break;
            }
            changes.push_back(std::move(change));
        }
    }
    if (!changes.empty()) {
        journal::appendChangesLine(unwritten_, changes);
        behind_ = true;
    }
    if (broken_ || !behind_) return;
    if (options_.beforeWrite) options_.beforeWrite();
    if (writeWholeNext_ || !files_.canAppend() ||
        files_.journalBytes() + unwritten_.size() > options_.journalLimit) {
        writeWhole(lastNow_);
        return;
    }
    const auto result = files_.append(unwritten_);
    if (result == HistoryFileWriter::Outcome::written) {
        unwritten_.clear();
        behind_ = false;
    } else if (unwritten_.size() > options_.journalLimit) {
        // Held back long enough: the next write is the whole archive, which holds it all.
        unwritten_.clear();
        writeWholeNext_ = true;
    }
    report(result);
}

void BackgroundHistoryWriter::writeWhole(platform::Date now) {
    const auto result = files_.writeWhole(disk_, now);
    // Either way the lines held back are in disk_, and only a whole write can bring them out.
    unwritten_.clear();
    behind_ = result != HistoryFileWriter::Outcome::written;
    writeWholeNext_ = behind_;
    report(result);
}

void BackgroundHistoryWriter::report(HistoryFileWriter::Outcome result) {
    const std::lock_guard lock(mutex_);
    statistics_ = files_.statistics();
    switch (result) {
        case HistoryFileWriter::Outcome::written:
            outcome_ = Outcome::written;
            break;
        case HistoryFileWriter::Outcome::failed:
            outcome_ = Outcome::failed;
            break;
        case HistoryFileWriter::Outcome::unreadableFileStays:
            outcome_ = Outcome::unreadableFileStays;
            break;
    }
}

void BackgroundHistoryWriter::finish() {
    // At quit the archive file takes in the journal, so the next start (or an older build)
    // reads one file.
    if (broken_) return;
    if (behind_ || files_.journalBytes() > 0) writeWhole(lastNow_);
}

}  // namespace kestrane::history
