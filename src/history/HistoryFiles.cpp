#include "history/HistoryFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

#include "history/ArchiveJournal.h"
#include "platform/Files.h"
#include "platform/LocalizedError.h"

namespace kestrane::history {
namespace {

namespace fs = std::filesystem;
using platform::Date;

constexpr std::string_view kJournalSuffix = ".journal";

// "20250310T120000Z": sorts by time as text, and is a plain file name everywhere.
std::string compactUTC(Date date) {
    const double seconds = date.secondsSince1970;
    std::time_t time = std::isfinite(seconds) ? static_cast<std::time_t>(std::floor(seconds)) : 0;
    std::tm parts{};
    if (!::gmtime_r(&time, &parts)) {
        time = 0;
        ::gmtime_r(&time, &parts);
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Keeps the newest few of the files renamed aside (names order by the time they were moved,
// a "-2" after the plain one), archives and journals counted apart.
void removeOldestAside(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> archives;
    std::vector<fs::path> journals;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        (name.ends_with(kJournalSuffix) ? journals : archives).push_back(entry->path());
    }
    for (auto* kept : {&archives, &journals}) {
        std::sort(kept->begin(), kept->end());
        for (std::size_t i = 0; i + keptUnreadableFiles < kept->size(); ++i) {
            std::error_code ignored;
            fs::remove((*kept)[i], ignored);
        }
    }
}

// Renames the archive file (with `archive`) and the journal (when there is one) out of the way
// under one new name; false when something that had to move stays in place.
bool moveAside(const fs::path& archiveFile, bool archive, Date now) {
    const fs::path journal = journalPath(archiveFile);
    std::error_code error;
    // A folder in the file's place is no file of ours, and a save can never replace it.
    if (archive && fs::is_directory(fs::symlink_status(archiveFile, error))) archive = false;
    const bool withJournal = present(journal);
    if (!archive && !withJournal) return true;
    const std::string prefix = archiveFile.filename().string() + ".unreadable-";
    const fs::path base = archiveFile.parent_path() / (prefix + compactUTC(now));
    fs::path target = base;
    for (int n = 2; present(target) || present(target.string() + std::string(kJournalSuffix));
         ++n) {
        if (n > 100) return false;
        target = base.string() + "-" + std::to_string(n);
    }
    // A rename keeps the bytes even of a file we are not allowed to read.
    if (archive) {
        fs::rename(archiveFile, target, error);
        // Gone in the meantime: nothing left to protect.
        if (error && error != std::errc::no_such_file_or_directory) return false;
    }
    if (withJournal) {
        fs::rename(journal, target.string() + std::string(kJournalSuffix), error);
        if (error && error != std::errc::no_such_file_or_directory) return false;
    }
    removeOldestAside(archiveFile.parent_path(), prefix);
    return true;
}

bool writeAll(int fd, std::string_view data, off_t offset) {
    for (std::size_t written = 0; written < data.size();) {
        const ssize_t count = ::pwrite(fd, data.data() + written, data.size() - written,
                                       offset + static_cast<off_t>(written));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

// A new directory entry survives a power cut only once its folder is synced too.
void syncFolder(const fs::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

fs::path journalPath(const fs::path& archiveFile) {
    return archiveFile.string() + std::string(kJournalSuffix);
}

LoadedHistory loadHistoryFiles(const fs::path& archiveFile, std::size_t maximumBytes,
                               bool retryForOtherArchive) {
    const fs::path journal = journalPath(archiveFile);
    for (int attempt = 0;; ++attempt) {
        LoadedHistory loaded;
        // The journal first: a writer replaces the archive file before it removes the journal,
        // so a journal read before the archive file is never newer than it.
        const bool journalPresent = present(journal);
        const auto journalText =
            journalPresent ? platform::readFile(journal, maximumBytes) : std::nullopt;

        std::error_code error;
        const bool exists = fs::exists(archiveFile, error);
        // Without an archive file a journal has nothing to continue.
        if (!exists && !error) return loaded;
        std::uint64_t hash = 0;
        try {
            const auto data = platform::readFile(archiveFile, maximumBytes);
            if (!data) throw platform::DecodingError();
            loaded.archive = decodeArchive(*data);
            hash = journal::contentHash(*data);
        } catch (const std::exception&) {
            // The file keeps its bytes: the first write renames it aside instead of replacing it.
            loaded.archive = UsageArchive{};
            loaded.files.unreadableArchive = true;
            return loaded;
        }
        loaded.files.archiveHash = hash;
        if (!journalPresent) return loaded;
        if (!journalText) {
            // There, but not for us to read (too large, no permission): kept, not replaced.
            loaded.files.damagedJournal = true;
            return loaded;
        }
        const auto replay = journal::replay(*journalText, hash, loaded.archive);
        switch (replay.outcome) {
            case journal::Replay::Outcome::applied:
                loaded.files.journalBytes = replay.validBytes;
                return loaded;
            case journal::Replay::Outcome::damaged:
                loaded.files.journalBytes = replay.validBytes;
                loaded.files.damagedJournal = true;
                return loaded;
            case journal::Replay::Outcome::otherArchive:
                if (retryForOtherArchive && attempt < 2) continue;
                return loaded;
        }
    }
}

HistoryFileWriter::HistoryFileWriter(fs::path archiveFile, HistoryFileState state)
    : archiveFile_(std::move(archiveFile)),
      journalFile_(journalPath(archiveFile_)),
      state_(state) {}

HistoryFileWriter::~HistoryFileWriter() { closeJournal(); }

void HistoryFileWriter::closeJournal() {
    if (journalFd_ >= 0) ::close(journalFd_);
    journalFd_ = -1;
}

bool HistoryFileWriter::canAppend() const {
    return state_.archiveHash && !state_.unreadableArchive && !state_.damagedJournal;
}

HistoryFileWriter::Outcome HistoryFileWriter::writeWhole(const UsageArchive& archive, Date now) {
    try {
        if (const auto folder = archiveFile_.parent_path(); !folder.empty()) {
            std::error_code error;
            fs::create_directories(folder, error);
            if (error) throw std::system_error(error);
        }
        if (state_.unreadableArchive || state_.damagedJournal) {
            closeJournal();
            if (!moveAside(archiveFile_, state_.unreadableArchive, now)) {
                // Never written over: the history stays in memory.
                return state_.unreadableArchive ? Outcome::unreadableFileStays : Outcome::failed;
            }
            state_.unreadableArchive = false;
            state_.damagedJournal = false;
            state_.journalBytes = 0;
        }
        const std::string data = encodeArchive(archive);
        using fs::perms;
        if (platform::writeFileAtomically(archiveFile_, data,
                                          perms::owner_read | perms::owner_write) != 0) {
            return Outcome::failed;
        }
        ++statistics_.wholeWrites;
        statistics_.wholeBytes += data.size();
        state_.archiveHash = journal::contentHash(data);
        // The journal's changes are in the file now. Should this fail, or a crash come first,
        // the journal names the old file and is not applied again.
        closeJournal();
        ::unlink(journalFile_.c_str());
        state_.journalBytes = 0;
        return Outcome::written;
    } catch (const std::exception&) {
        return Outcome::failed;
    }
}

HistoryFileWriter::Outcome HistoryFileWriter::append(std::string_view lines) {
    if (!canAppend()) return Outcome::failed;
    std::string fresh;
    std::string_view data = lines;
    const bool create = state_.journalBytes == 0;
    if (create) {
        closeJournal();
        fresh = journal::headerLine(*state_.archiveHash);
        fresh.append(lines);
        data = fresh;
        journalFd_ = ::open(journalFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (journalFd_ < 0) return Outcome::failed;
    } else if (journalFd_ < 0) {
        journalFd_ = ::open(journalFile_.c_str(), O_WRONLY | O_CLOEXEC);
        if (journalFd_ < 0) return Outcome::failed;
    }
    const off_t offset = static_cast<off_t>(state_.journalBytes);
    // Also cuts off what a crash left after the last complete line.
    bool ok = ::ftruncate(journalFd_, offset) == 0 && writeAll(journalFd_, data, offset);
    ok = ok && (create ? ::fsync(journalFd_) : ::fdatasync(journalFd_)) == 0;
    if (!ok) {
        // A part of the lines may have landed: not counted, and cut off here or by the next
        // append (a reader ignores a line cut short anyway).
        if (::ftruncate(journalFd_, offset) != 0) closeJournal();
        return Outcome::failed;
    }
    if (create) syncFolder(journalFile_.parent_path());
    ++statistics_.appends;
    statistics_.journalBytes += data.size();
    state_.journalBytes += data.size();
    return Outcome::written;
}

}  // namespace kestrane::history
