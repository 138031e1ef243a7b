#include "history/UsageHistoryStore.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "platform/Files.h"
#include "platform/LocalizedError.h"
#include "platform/UnicodeText.h"

namespace kestrane::history {
namespace {

using platform::Date;

// A full archive (15 windows of 12 000 samples with 90 days of rhythm) is about 15 MB; anything
// far beyond that is not ours and is not read into memory.
constexpr std::size_t kMaximumFileBytes = 128u * 1024 * 1024;
constexpr double kSegmentGap = 900;
constexpr double kMergeInterval = 60;

std::size_t entryCount(const UsageArchive& archive) {
    std::size_t count = 0;
    for (const auto& [key, series] : archive.series) count += series.samples.size();
    for (const auto& [key, rhythm] : archive.rhythms) count += rhythm.hours.size();
    return count;
}

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

bool startsWithProvider(std::string_view key, model::ProviderKind provider) {
    const auto prefix = model::rawValue(provider);
    return key.size() > prefix.size() && key.substr(0, prefix.size()) == prefix &&
           key[prefix.size()] == '|';
}

}  // namespace

UsageHistoryStore::UsageHistoryStore(std::optional<std::filesystem::path> fileURL, Date now,
                                     platform::Calendar calendar)
    : fileURL_(std::move(fileURL)), calendar_(std::move(calendar)) {
    if (!fileURL_) return;
    std::error_code error;
    if (const auto folder = fileURL_->parent_path(); !folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    auto [outcome, lock] = platform::FileLock::tryAcquire(fileURL_->string() + ".lock");
    // Without lock support here (a read-only folder, a file system without locks) there is no
    // one to share the file with that we could know of: saving reports its own failure.
    readOnly_ = outcome == platform::FileLock::Outcome::heldElsewhere;
    lock_ = std::move(lock);
    // Temporary files of a save that was killed; only the writer may tell them from a save
    // in progress.
    if (!readOnly_) platform::removeAtomicWriteLeftovers(*fileURL_);
    if (readOnly_) persistenceError_ = std::string(otherWriterText);

    const bool exists = std::filesystem::exists(*fileURL_, error);
    if (!exists && !error) return;
    try {
        const auto data = platform::readFile(*fileURL_, kMaximumFileBytes);
        if (!data) throw platform::DecodingError();
        archive_ = decodeArchive(*data);
    } catch (const std::exception&) {
        // The file keeps its bytes: the first save renames it aside instead of replacing it.
        archive_ = UsageArchive{};
        unreadableFile_ = true;
        if (!readOnly_) persistenceError_ = std::string(readErrorText);
        return;
    }
    const bool droppedFuture = dropFutureEntries(now);
    rebuildMissingRhythms();
    const std::size_t before = entryCount(archive_);
    prune(now);
    if (droppedFuture || entryCount(archive_) != before) save(now);
}

std::filesystem::path UsageHistoryStore::defaultFileURL(const platform::Environment& environment) {
    std::filesystem::path base;
    // Only an absolute $XDG_DATA_HOME counts; a relative one is to be ignored.
    if (const auto xdg = environment.value("XDG_DATA_HOME");
        xdg && !xdg->empty() && std::filesystem::path(*xdg).is_absolute()) {
        base = *xdg;
    } else {
        base = environment.homeDirectory() / ".local" / "share";
    }
    return base / "Kestrane" / "usage-history-v1.json";
}

void UsageHistoryStore::rebuildMissingRhythms() {
    for (const auto& [key, series] : archive_.series) {
        if (archive_.rhythms.contains(key)) continue;
        RhythmHistory rhythm{
            series.accountDigest, series.durationMinutes, calendar_.timeZoneIdentifier(), {}};
        for (std::size_t i = 1; i < series.samples.size(); ++i) {
            if (series.samples[i].startsSegment) continue;
            rhythm.observe(series.samples[i - 1], series.samples[i], series.resetsAt, calendar_);
        }
        archive_.rhythms.emplace(key, std::move(rhythm));
    }
}

std::string UsageHistoryStore::accountDigest(const model::ProviderUsage& usage) {
    const std::string text =
        (usage.email ? platform::normalisedEmail(*usage.email) : std::string("anonymous")) + "|" +
        usage.plan.value_or("");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        length = 0;
    }
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex.append(pair, 2);
    }
    return hex;
}

std::string UsageHistoryStore::key(model::ProviderKind provider, std::string_view windowID) {
    std::string result(model::rawValue(provider));
    result += '|';
    result += windowID;
    return result;
}

bool UsageHistoryStore::sameReset(std::optional<Date> a, std::optional<Date> b) {
    if (!a && !b) return true;
    if (!a || !b) return false;
    return std::fabs(*a - *b) <= 60;
}

std::optional<UsageTransition> UsageHistoryStore::transition(const UsageSeries& series,
                                                             const model::LimitWindow& window,
                                                             Date date) {
    if (series.samples.empty()) return std::nullopt;
    const UsageSample& last = series.samples.back();
    const double u0 = last.usedPercent;
    const double u1 = window.usedPercent;
    const bool same = sameReset(series.resetsAt, window.resetsAt);
    using Kind = UsageTransition::Kind;
    // The reset time we knew of passed between the two observations.
    if (series.resetsAt && last.date < *series.resetsAt && *series.resetsAt <= date) {
        return UsageTransition{*series.resetsAt, Kind::reset, false};
    }
    if (u1 < u0) {
        if (!same || !series.resetsAt) return UsageTransition{date, Kind::reset, true};
        // Usage fell although the period did not change.
        return UsageTransition{date, Kind::correction, true};
    }
    if (u0 == 0 && u1 == 0) return std::nullopt;
    if (!same) return UsageTransition{date, Kind::periodChange, true};
    return std::nullopt;
}

void UsageHistoryStore::trim(UsageSeries& series, Date now) {
    const Date cutoff = now - visibleHistorySeconds;
    auto& samples = series.samples;
    const auto first = std::find_if(samples.begin(), samples.end(),
                                    [&](const UsageSample& s) { return s.date >= cutoff; });
    if (first == samples.end()) return;
    const auto k = first - samples.begin();
    if (k >= 2) samples.erase(samples.begin(), samples.begin() + (k - 1));
}

std::vector<UsageSample> UsageHistoryStore::thinned(const std::vector<UsageSample>& samples) {
    const std::size_t count = samples.size();
    if (count <= maximumSamples) return samples;
    const std::size_t half = count / 2;
    std::vector<UsageSample> result;
    result.reserve(count - half / 2 + 1);
    result.push_back(samples[0]);
    bool droppedStartsSegment = false;
    for (std::size_t i = 1; i < half; ++i) {
        const bool keep =
            i % 2 == 0 || i == half - 1 || samples[i].transition || samples[i + 1].transition;
        if (keep) {
            UsageSample kept = samples[i];
            // A gap that began at a dropped sample still begins at the next kept one.
            kept.startsSegment = kept.startsSegment || droppedStartsSegment;
            droppedStartsSegment = false;
            result.push_back(std::move(kept));
        } else {
            droppedStartsSegment = droppedStartsSegment || samples[i].startsSegment;
        }
    }
    result.insert(result.end(), samples.begin() + static_cast<std::ptrdiff_t>(half), samples.end());
    return result;
}

bool UsageHistoryStore::dropFutureEntries(Date now) {
    if (!std::isfinite(now.secondsSince1970)) return false;
    const Date limit = now + futureTolerance;
    bool dropped = false;
    for (auto& [key, series] : archive_.series) {
        dropped |= std::erase_if(series.samples, [&](const UsageSample& sample) {
                       return sample.date > limit;
                   }) > 0;
    }
    for (auto& [key, rhythm] : archive_.rhythms) {
        dropped |= std::erase_if(rhythm.hours,
                                 [&](const RhythmHour& hour) { return hour.start > limit; }) > 0;
    }
    return dropped;
}

std::string UsageHistoryStore::settleAccount(const model::ProviderUsage& usage) {
    const model::ProviderKind provider = usage.provider;
    const auto discardOtherAccounts = [&](const std::string& digest) {
        std::erase_if(archive_.series, [&](const auto& entry) {
            return entry.second.provider == provider && entry.second.accountDigest != digest;
        });
        std::erase_if(archive_.rhythms, [&](const auto& entry) {
            return startsWithProvider(entry.first, provider) &&
                   entry.second.accountDigest != digest;
        });
    };
    const std::string digest = accountDigest(usage);
    const bool namesAccount = usage.email && !platform::normalisedEmail(*usage.email).empty();
    const auto lastKnown = archive_.lastKnownAccounts.find(provider);

    if (!namesAccount) {
        // A fetch whose account request failed says nothing about the account: it is the
        // last one we knew.
        if (lastKnown != archive_.lastKnownAccounts.end()) return lastKnown->second;
        discardOtherAccounts(digest);
        return digest;
    }
    if (lastKnown == archive_.lastKnownAccounts.end()) {
        // The first fetch that names the account: what was recorded without a name so far
        // was recorded under it.
        model::ProviderUsage unnamed = usage;
        unnamed.email.reset();
        const std::string withPlan = accountDigest(unnamed);
        unnamed.plan.reset();
        const std::string withoutPlan = accountDigest(unnamed);
        for (auto& [key, series] : archive_.series) {
            if (series.provider != provider) continue;
            if (series.accountDigest == withPlan || series.accountDigest == withoutPlan) {
                series.accountDigest = digest;
            }
        }
        for (auto& [key, rhythm] : archive_.rhythms) {
            if (!startsWithProvider(key, provider)) continue;
            if (rhythm.accountDigest == withPlan || rhythm.accountDigest == withoutPlan) {
                rhythm.accountDigest = digest;
            }
        }
    }
    // Another known account (or plan): its history of this provider is not this one's.
    discardOtherAccounts(digest);
    archive_.lastKnownAccounts.insert_or_assign(provider, digest);
    return digest;
}

void UsageHistoryStore::record(const model::ProviderUsage& usage, Date now) {
    Date t = usage.updatedAt;
    if (!std::isfinite(t.secondsSince1970)) return;
    // A snapshot dated beyond our own clock was taken now; its date is not believed.
    if (std::isfinite(now.secondsSince1970) && t > now + futureTolerance) t = now;
    // Dates a wrong clock once wrote must not hold back or prune what is observed now.
    const bool droppedFuture = dropFutureEntries(now);

    // A snapshot not newer than what this provider already recorded was seen before.
    std::optional<Date> latest;
    for (const auto& [key, series] : archive_.series) {
        if (series.provider != usage.provider || series.samples.empty()) continue;
        const Date last = series.samples.back().date;
        if (!latest || last > *latest) latest = last;
    }
    if (latest && !(t > *latest)) {
        if (droppedFuture) save(now);
        return;
    }

    prune(t);

    const std::string digest = settleAccount(usage);

    for (const model::LimitWindow& window : usage.windows) {
        const double used = window.usedPercent;
        if (!std::isfinite(used) || used < 0 || used > 100) continue;
        if (window.resetsAt &&
            !(std::isfinite(window.resetsAt->secondsSince1970) && *window.resetsAt > t)) {
            continue;
        }
        const std::string seriesKey = key(usage.provider, window.id);
        const auto existing = archive_.series.find(seriesKey);
        if (existing != archive_.series.end() && !existing->second.samples.empty() &&
            !(t > existing->second.samples.back().date)) {
            continue;
        }

        UsageSeries series;
        if (existing == archive_.series.end() ||
            existing->second.durationMinutes != window.durationMinutes) {
            series = UsageSeries{usage.provider,         window.id,       digest,
                                 window.durationMinutes, window.resetsAt, {}};
        } else {
            series = std::move(existing->second);
        }

        const auto tr = transition(series, window, t);
        auto& samples = series.samples;

        RhythmHistory rhythm;
        const auto storedRhythm = archive_.rhythms.find(seriesKey);
        if (storedRhythm != archive_.rhythms.end() &&
            storedRhythm->second.durationMinutes == window.durationMinutes &&
            storedRhythm->second.timeZoneIdentifier == calendar_.timeZoneIdentifier()) {
            rhythm = std::move(storedRhythm->second);
        } else {
            rhythm =
                RhythmHistory{digest, window.durationMinutes, calendar_.timeZoneIdentifier(), {}};
        }
        if (!tr && !samples.empty()) {
            rhythm.observe(samples.back(), UsageSample{t, used, false, std::nullopt},
                           window.resetsAt, calendar_);
        }
        archive_.rhythms.insert_or_assign(seriesKey, std::move(rhythm));

        // A burst of refreshes replaces its own middle sample instead of piling up samples.
        if (!tr && samples.size() > 1) {
            const UsageSample& last = samples.back();
            const UsageSample& beforeLast = samples[samples.size() - 2];
            if (!last.startsSegment && !last.transition && t - last.date < kMergeInterval &&
                t - beforeLast.date <= kSegmentGap) {
                samples.pop_back();
            }
        }

        const bool startsSegment = samples.empty() || t - samples.back().date > kSegmentGap || tr;
        samples.push_back(UsageSample{t, used, startsSegment, tr});
        series.resetsAt = window.resetsAt;
        if (samples.size() > maximumSamples) samples = thinned(samples);
        archive_.series.insert_or_assign(seriesKey, std::move(series));
    }

    save(now);
}

std::optional<UsageSeries> UsageHistoryStore::series(model::ProviderKind provider,
                                                     const model::LimitWindow& window,
                                                     Date now) const {
    const auto found = archive_.series.find(key(provider, window.id));
    if (found == archive_.series.end()) return std::nullopt;
    const UsageSeries& stored = found->second;
    if (stored.durationMinutes != window.durationMinutes ||
        !sameReset(stored.resetsAt, window.resetsAt) || stored.samples.empty() ||
        stored.samples.back().date < now - visibleHistorySeconds) {
        return std::nullopt;
    }
    UsageSeries copy = stored;
    trim(copy, now);
    return copy;
}

std::optional<RhythmHistory> UsageHistoryStore::rhythm(model::ProviderKind provider,
                                                       const model::LimitWindow& window) const {
    const auto found = archive_.rhythms.find(key(provider, window.id));
    if (found == archive_.rhythms.end()) return std::nullopt;
    if (found->second.timeZoneIdentifier != calendar_.timeZoneIdentifier() ||
        found->second.durationMinutes != window.durationMinutes) {
        return std::nullopt;
    }
    return found->second;
}

void UsageHistoryStore::pruneExpired(Date now) {
    const std::size_t before = entryCount(archive_);
    dropFutureEntries(now);
    prune(now);
    if (entryCount(archive_) != before) save(now);
}

void UsageHistoryStore::prune(Date now) {
    const Date rhythmCutoff = now - rhythmHistorySeconds;
    for (auto& [key, rhythm] : archive_.rhythms) {
        std::erase_if(rhythm.hours,
                      [&](const RhythmHour& hour) { return hour.start < rhythmCutoff; });
    }
    std::erase_if(archive_.rhythms, [](const auto& entry) { return entry.second.hours.empty(); });
    const Date seriesCutoff = now - visibleHistorySeconds;
    std::erase_if(archive_.series, [&](const auto& entry) {
        return entry.second.samples.empty() || entry.second.samples.back().date < seriesCutoff;
    });
    for (auto& [key, series] : archive_.series) trim(series, now);
}

bool UsageHistoryStore::moveUnreadableFileAside(Date now) {
    const std::filesystem::path& file = *fileURL_;
    std::error_code error;
    // A folder in the file's place is no file of ours, and a save can never replace it.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(file, error))) return true;
    const std::string prefix = file.filename().string() + ".unreadable-";
    const std::filesystem::path base = file.parent_path() / (prefix + compactUTC(now));
    std::filesystem::path target = base;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(target, error)); ++n) {
        if (n > 100) return false;
        target = base.string() + "-" + std::to_string(n);
    }
    // A rename keeps the bytes even of a file we are not allowed to read.
    std::filesystem::rename(file, target, error);
    if (error) {
        // Gone in the meantime: nothing left to protect.
        return error == std::errc::no_such_file_or_directory;
    }
    std::vector<std::filesystem::path> kept;
    for (std::filesystem::directory_iterator entry(file.parent_path(), error), end;
         !error && entry != end; entry.increment(error)) {
        if (entry->path().filename().string().starts_with(prefix)) kept.push_back(entry->path());
    }
    // Oldest first: the names order by the time they were moved (a "-2" after the plain one).
    std::sort(kept.begin(), kept.end());
    for (std::size_t i = 0; i + keptUnreadableFiles < kept.size(); ++i) {
        std::error_code ignored;
        std::filesystem::remove(kept[i], ignored);
    }
    return true;
}

void UsageHistoryStore::save(Date now) {
    if (!fileURL_ || readOnly_) return;
    try {
        if (const auto folder = fileURL_->parent_path(); !folder.empty()) {
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error) throw std::system_error(error);
        }
        if (unreadableFile_) {
            if (!moveUnreadableFileAside(now)) {
                // Never written over: the history stays in memory and the read error shows.
                persistenceError_ = std::string(readErrorText);
                return;
            }
            unreadableFile_ = false;
        }
        const std::string data = encodeArchive(archive_);
        // Written to a temporary file and renamed, so a crash leaves the old or the new file.
        using std::filesystem::perms;
        if (platform::writeFileAtomically(*fileURL_, data,
                                          perms::owner_read | perms::owner_write) != 0) {
            throw std::system_error(std::make_error_code(std::errc::io_error));
        }
        persistenceError_.reset();
    } catch (const std::exception&) {
        persistenceError_ = std::string(saveErrorText);
    }
}

}  // namespace kestrane::history
