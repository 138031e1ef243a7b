#include "history/UsageHistoryStore.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <system_error>
#include <utility>

#include "history/BackgroundHistoryWriter.h"
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
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kMergeInterval = 60;

std::size_t entryCount(const UsageArchive& archive) {
    std::size_t count = 0;
    for (const auto& [key, series] : archive.series) count += series.samples.size();
    for (const auto& [key, rhythm] : archive.rhythms) count += rhythm.hours.size();
    return count;
}

bool startsWithProvider(std::string_view key, model::ProviderKind provider) {
    const auto prefix = model::rawValue(provider);
    return key.size() > prefix.size() && key.substr(0, prefix.size()) == prefix &&
           key[prefix.size()] == '|';
}

}  // namespace

UsageHistoryStore::UsageHistoryStore(std::optional<std::filesystem::path> filePath, Date now,
                                     platform::Calendar calendar,
                                     std::optional<BackgroundSaving> background)
    : filePath_(std::move(filePath)), calendar_(std::move(calendar)) {
    if (!filePath_) return;
    std::error_code error;
    if (const auto folder = filePath_->parent_path(); !folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    auto [outcome, lock] = platform::FileLock::tryAcquire(filePath_->string() + ".lock");
    // Without lock support here (a read-only folder, a file system without locks) there is no
    // one to share the file with that we could know of: saving reports its own failure.
    readOnly_ = outcome == platform::FileLock::Outcome::heldElsewhere;
    lock_ = std::move(lock);
    // Temporary files of a save that was killed; only the writer may tell them from a save
    // in progress.
    if (!readOnly_) platform::removeAtomicWriteLeftovers(*filePath_);
    if (readOnly_) persistenceError_ = std::string(otherWriterText);

    // A reader may meet the writer replacing the files between its reads, and reads again.
    LoadedHistory loaded = loadHistoryFiles(*filePath_, kMaximumFileBytes, readOnly_);
    archive_ = std::move(loaded.archive);
    if (loaded.files.unreadableArchive && !readOnly_) {
        persistenceError_ = std::string(readErrorText);
    }
    if (!readOnly_ && background) {
        // The writer starts from what the files hold; what loading changes below goes to it
        // as changes.
        writer_ = std::make_unique<BackgroundHistoryWriter>(
            *filePath_, loaded.files, archive_,
            BackgroundHistoryWriter::Options{background->journalLimit,
                                             std::move(background->beforeWrite)});
        tracking_ = true;
    } else if (!readOnly_) {
        files_ = std::make_unique<HistoryFileWriter>(*filePath_, loaded.files);
    }
    if (loaded.files.unreadableArchive) return;
    const bool droppedFuture = dropFutureEntries(now);
    rebuildMissingRhythms();
    const std::size_t before = entryCount(archive_);
    prune(now);
    if (droppedFuture || entryCount(archive_) != before) save(now);
}

UsageHistoryStore::UsageHistoryStore(UsageHistoryStore&&) noexcept = default;

UsageHistoryStore::~UsageHistoryStore() { finishWriting(); }

void UsageHistoryStore::finishWriting() {
    if (!writer_) return;
    flush();
    // A change that did not fit the writer's copy: it gets the whole archive to fold in.
    if (writer_->wantsSnapshot()) writer_->replaceAll(archive_, lastNow_);
    writer_->stop();
    switch (writer_->outcome()) {
        case BackgroundHistoryWriter::Outcome::none:
            break;
        case BackgroundHistoryWriter::Outcome::written:
            persistenceError_.reset();
            break;
        case BackgroundHistoryWriter::Outcome::failed:
            persistenceError_ = std::string(saveErrorText);
            break;
        case BackgroundHistoryWriter::Outcome::unreadableFileStays:
            persistenceError_ = std::string(readErrorText);
            break;
    }
    finished_ = writer_->statistics();
    writer_.reset();
    tracking_ = false;
    changes_.clear();
}

std::filesystem::path UsageHistoryStore::defaultFilePath(const platform::Environment& environment) {
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
        for (const RhythmHour& hour : rhythm.hours) widenBounds(hour.start);
        if (tracking_) noteWholeRhythm(key, rhythm);
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
    // Every record asks; nearly always nothing lies beyond, and the bound says so at once.
    if (latestDate_ <= limit.secondsSince1970) return false;
    double latest = -kInfinity;
    const auto beyond = [&](Date date) {
        if (date > limit) return true;
        latest = std::max(latest, date.secondsSince1970);
        return false;
    };
    bool dropped = false;
    for (auto& [key, series] : archive_.series) {
        if (std::erase_if(series.samples,
                          [&](const UsageSample& sample) { return beyond(sample.date); }) > 0) {
            dropped = true;
            if (tracking_) note(change::DropSamplesAfter{key, limit});
        }
    }
    for (auto& [key, rhythm] : archive_.rhythms) {
        if (std::erase_if(rhythm.hours,
                          [&](const RhythmHour& hour) { return beyond(hour.start); }) > 0) {
            dropped = true;
            if (tracking_) note(change::DropHoursAfter{key, limit});
        }
    }
    latestDate_ = latest;
    return dropped;
}

std::string UsageHistoryStore::settleAccount(const model::ProviderUsage& usage) {
    const model::ProviderKind provider = usage.provider;
    const auto discardOtherAccounts = [&](const std::string& digest) {
        std::erase_if(archive_.series, [&](const auto& entry) {
            const bool other =
                entry.second.provider == provider && entry.second.accountDigest != digest;
            if (other && tracking_) note(change::RemoveSeries{entry.first});
            return other;
        });
        std::erase_if(archive_.rhythms, [&](const auto& entry) {
            const bool other =
                startsWithProvider(entry.first, provider) && entry.second.accountDigest != digest;
            if (other && tracking_) note(change::RemoveRhythm{entry.first});
            return other;
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
                if (tracking_) note(change::SeriesAccount{key, digest});
            }
        }
        for (auto& [key, rhythm] : archive_.rhythms) {
            if (!startsWithProvider(key, provider)) continue;
            if (rhythm.accountDigest == withPlan || rhythm.accountDigest == withoutPlan) {
                rhythm.accountDigest = digest;
                if (tracking_) note(change::RhythmAccount{key, digest});
            }
        }
    }
    // Another known account (or plan): its history of this provider is not this one's.
    discardOtherAccounts(digest);
    archive_.lastKnownAccounts.insert_or_assign(provider, digest);
    if (tracking_) note(change::LastKnownAccount{provider, digest});
    return digest;
}

void UsageHistoryStore::record(const model::ProviderUsage& usage, Date now) {
    if (apply(usage, now)) save(now);
}

void UsageHistoryStore::record(const std::vector<model::ProviderUsage>& usages, Date now) {
    bool changed = false;
    for (const model::ProviderUsage& usage : usages) changed |= apply(usage, now);
    if (changed) save(now);
}

bool UsageHistoryStore::apply(const model::ProviderUsage& usage, Date now) {
    Date t = usage.updatedAt;
    if (!std::isfinite(t.secondsSince1970)) return false;
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
    if (latest && !(t > *latest)) return droppedFuture;

    prune(t);

    const std::string digest = settleAccount(usage);

    std::vector<std::size_t> changedHours;
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
        const bool freshSeries = existing == archive_.series.end() ||
                                 existing->second.durationMinutes != window.durationMinutes;
        if (freshSeries) {
            series = UsageSeries{usage.provider,         window.id,       digest,
                                 window.durationMinutes, window.resetsAt, {}};
        } else {
            series = std::move(existing->second);
        }

        const auto tr = transition(series, window, t);
        auto& samples = series.samples;

        RhythmHistory rhythm;
        const auto storedRhythm = archive_.rhythms.find(seriesKey);
        const bool freshRhythm =
            !(storedRhythm != archive_.rhythms.end() &&
              storedRhythm->second.durationMinutes == window.durationMinutes &&
              storedRhythm->second.timeZoneIdentifier == calendar_.timeZoneIdentifier());
        if (!freshRhythm) {
            rhythm = std::move(storedRhythm->second);
        } else {
            rhythm =
                RhythmHistory{digest, window.durationMinutes, calendar_.timeZoneIdentifier(), {}};
        }
        changedHours.clear();
        if (!tr && !samples.empty()) {
            rhythm.observe(samples.back(), UsageSample{t, used, false, std::nullopt},
                           window.resetsAt, calendar_, &changedHours);
        }
        for (const std::size_t index : changedHours) widenBounds(rhythm.hours[index].start);
        if (tracking_) {
            if (freshRhythm) {
                noteWholeRhythm(seriesKey, rhythm);
            } else {
                std::sort(changedHours.begin(), changedHours.end());
                changedHours.erase(std::unique(changedHours.begin(), changedHours.end()),
                                   changedHours.end());
                for (const std::size_t index : changedHours) {
                    note(change::SetHour{seriesKey, index, rhythm.hours[index]});
                }
            }
        }
        archive_.rhythms.insert_or_assign(seriesKey, std::move(rhythm));

        // A burst of refreshes replaces its own middle sample instead of piling up samples.
        bool merged = false;
        if (!tr && samples.size() > 1) {
            const UsageSample& last = samples.back();
            const UsageSample& beforeLast = samples[samples.size() - 2];
            if (!last.startsSegment && !last.transition && t - last.date < kMergeInterval &&
                t - beforeLast.date <= kSegmentGap) {
                samples.pop_back();
                merged = true;
            }
        }

        const bool startsSegment = samples.empty() || t - samples.back().date > kSegmentGap || tr;
        samples.push_back(UsageSample{t, used, startsSegment, tr});
        widenBounds(t);
        const bool resetMoved = series.resetsAt != window.resetsAt;
        series.resetsAt = window.resetsAt;
        const bool thin = samples.size() > maximumSamples;
        if (thin) samples = thinned(samples);
        if (tracking_) {
            if (freshSeries) {
                noteWholeSeries(seriesKey, series);
            } else {
                if (merged) note(change::DropLastSample{seriesKey});
                note(change::AppendSample{seriesKey, samples.back()});
                if (resetMoved) note(change::SeriesReset{seriesKey, series.resetsAt});
                if (thin) note(change::ThinSamples{seriesKey});
            }
        }
        archive_.series.insert_or_assign(seriesKey, std::move(series));
    }
    return true;
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
    // With a writer the drop waits for the refresh's records: one write per refresh.
    if (entryCount(archive_) != before && !writer_) save(now);
}

void UsageHistoryStore::prune(Date now) {
    const Date rhythmCutoff = now - rhythmHistorySeconds;
    // An hour expires about once an hour: until then the bound spares the look at every hour.
    if (!(earliestHour_ >= rhythmCutoff.secondsSince1970)) {
        double earliest = kInfinity;
        for (auto& [key, rhythm] : archive_.rhythms) {
            if (std::erase_if(rhythm.hours,
                              [&](const RhythmHour& hour) {
                                  if (hour.start < rhythmCutoff) return true;
                                  earliest = std::min(earliest, hour.start.secondsSince1970);
                                  return false;
                              }) > 0 &&
                tracking_) {
                note(change::DropHoursBefore{key, rhythmCutoff});
            }
        }
        earliestHour_ = earliest;
    }
    std::erase_if(archive_.rhythms, [&](const auto& entry) {
        const bool empty = entry.second.hours.empty();
        if (empty && tracking_) note(change::RemoveRhythm{entry.first});
        return empty;
    });
    const Date seriesCutoff = now - visibleHistorySeconds;
    std::erase_if(archive_.series, [&](const auto& entry) {
        const bool expired =
            entry.second.samples.empty() || entry.second.samples.back().date < seriesCutoff;
        if (expired && tracking_) note(change::RemoveSeries{entry.first});
        return expired;
    });
    for (auto& [key, series] : archive_.series) {
        const std::size_t count = series.samples.size();
        trim(series, now);
        if (series.samples.size() != count && tracking_) {
            note(change::DropFirstSamples{key, count - series.samples.size()});
        }
    }
}

void UsageHistoryStore::save(Date now) {
    if (!filePath_ || readOnly_) return;
    if (writer_) {
        flushChanges(now);
        return;
    }
    // Writing finished (finishWriting): the rest stays in memory.
    if (!files_) return;
    switch (files_->writeWhole(archive_, now)) {
        case HistoryFileWriter::Outcome::written:
            persistenceError_.reset();
            break;
        case HistoryFileWriter::Outcome::failed:
            persistenceError_ = std::string(saveErrorText);
            break;
        case HistoryFileWriter::Outcome::unreadableFileStays:
            // Never written over: the history stays in memory and the read error shows.
            persistenceError_ = std::string(readErrorText);
            break;
    }
}

void UsageHistoryStore::flushChanges(Date now) {
    if (!writer_) return;
    if (std::isfinite(now.secondsSince1970)) lastNow_ = now;
    if (writer_->wantsSnapshot()) {
        // The writer's copy went astray (a change that did not fit it): it takes the whole
        // archive once, and continues from there.
        writer_->replaceAll(archive_, now);
        changes_.clear();
        return;
    }
    if (!changes_.empty()) writer_->submit(std::exchange(changes_, {}), now);
}

void UsageHistoryStore::flush() {
    if (!writer_) return;
    flushChanges(lastNow_);
    writer_->flush();
}

std::optional<std::string> UsageHistoryStore::persistenceError() const {
    if (writer_) {
        switch (writer_->outcome()) {
            case BackgroundHistoryWriter::Outcome::none:
                break;
            case BackgroundHistoryWriter::Outcome::written:
                return std::nullopt;
            case BackgroundHistoryWriter::Outcome::failed:
                return std::string(saveErrorText);
            case BackgroundHistoryWriter::Outcome::unreadableFileStays:
                return std::string(readErrorText);
        }
    }
    return persistenceError_;
}

WriteStatistics UsageHistoryStore::writeStatistics() const {
    if (writer_) return writer_->statistics();
    return files_ ? files_->statistics() : finished_;
}

void UsageHistoryStore::widenBounds(Date date) {
    latestDate_ = std::max(latestDate_, date.secondsSince1970);
    earliestHour_ = std::min(earliestHour_, date.secondsSince1970);
}

void UsageHistoryStore::note(ArchiveChange change) { changes_.push_back(std::move(change)); }

void UsageHistoryStore::noteWholeSeries(const std::string& key, const UsageSeries& series) {
    UsageSeries header = series;
    header.samples.clear();
    note(change::NewSeries{key, std::move(header)});
    for (const UsageSample& sample : series.samples) note(change::AppendSample{key, sample});
}

void UsageHistoryStore::noteWholeRhythm(const std::string& key, const RhythmHistory& rhythm) {
    RhythmHistory header = rhythm;
    header.hours.clear();
    note(change::NewRhythm{key, std::move(header)});
    for (std::size_t i = 0; i < rhythm.hours.size(); ++i) {
        note(change::SetHour{key, i, rhythm.hours[i]});
    }
}

}  // namespace kestrane::history
