#include "history/ArchiveEventReader.h"

#include <cmath>
#include <limits>

#include "platform/TextConversions.h"

namespace kestrane::history {

using namespace archive_events;

namespace {

constexpr std::size_t kMaxDepth = 128;

template <typename... M>
constexpr std::uint32_t bits(M... members) {
    return (bit(members) | ...);
}

Got readNumber(const Scalar& value, double& out) {
    switch (value.type) {
        case Scalar::Type::null:
            return Got::absent;
        case Scalar::Type::integer:
            out = static_cast<double>(value.integer);
            return Got::value;
        case Scalar::Type::unsignedInteger:
            out = static_cast<double>(value.unsignedInteger);
            return Got::value;
        case Scalar::Type::floating:
            if (!std::isfinite(value.floating)) return Got::wrong;
            out = value.floating;
            return Got::value;
        default:
            return Got::wrong;
    }
}

Got readDate(const Scalar& value, platform::Date& out) {
    double seconds = 0;
    const Got got = readNumber(value, seconds);
    if (got == Got::value) out = platform::Date::fromSecondsSinceReferenceDate(seconds);
    return got;
}

template <typename Optional>
Got readOptionalDate(const Scalar& value, Optional& out) {
    platform::Date date;
    const Got got = readDate(value, date);
    if (got == Got::value) out = date;
    return got;
}

// Integral numbers only; a float holding a whole number counts.
Got readInteger(const Scalar& value, std::optional<std::int64_t>& out) {
    switch (value.type) {
        case Scalar::Type::null:
            return Got::absent;
        case Scalar::Type::integer:
            out = value.integer;
            return Got::value;
        case Scalar::Type::unsignedInteger:
            if (value.unsignedInteger >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return Got::wrong;
            }
            out = static_cast<std::int64_t>(value.unsignedInteger);
            return Got::value;
        case Scalar::Type::floating:
            if (const auto whole = platform::wholeInteger(value.floating)) {
                out = *whole;
                return Got::value;
            }
            return Got::wrong;
        default:
            return Got::wrong;
    }
}

Got readBool(const Scalar& value, bool& out) {
    if (value.type == Scalar::Type::null) return Got::absent;
    if (value.type != Scalar::Type::boolean) return Got::wrong;
    out = value.boolean;
    return Got::value;
}

Got readString(const Scalar& value, std::string& out) {
    if (value.type == Scalar::Type::null) return Got::absent;
    if (value.type != Scalar::Type::string) return Got::wrong;
    out = value.text;
    return Got::value;
}

// A string member that must name one of a fixed set of values.
template <typename T, typename Parse>
Got readRawValue(const Scalar& value, T& out, Parse parse) {
    if (value.type == Scalar::Type::null) return Got::absent;
    if (value.type != Scalar::Type::string) return Got::wrong;
    const auto parsed = parse(value.text);
    if (!parsed) return Got::wrong;
    out = *parsed;
    return Got::value;
}

constexpr std::uint32_t kRootRequired = bits(Member::version, Member::series);
constexpr std::uint32_t kSeriesRequired =
    bits(Member::provider, Member::windowID, Member::accountDigest, Member::samples);
constexpr std::uint32_t kSampleRequired =
    bits(Member::date, Member::usedPercent, Member::startsSegment);
constexpr std::uint32_t kTransitionRequired = bits(Member::date, Member::kind, Member::isEstimated);
constexpr std::uint32_t kRhythmRequired =
    bits(Member::accountDigest, Member::timeZoneIdentifier, Member::hours);
constexpr std::uint32_t kHourRequired =
    bits(Member::start, Member::usedPercent, Member::observedSeconds);

Member memberOf(Level level, std::string_view name) {
    switch (level) {
        case Level::root:
            if (name == "version") return Member::version;
            if (name == "series") return Member::series;
            if (name == "rhythms") return Member::rhythms;
            if (name == "lastKnownAccounts") return Member::lastKnownAccounts;
            break;
        case Level::series:
            if (name == "provider") return Member::provider;
            if (name == "windowID") return Member::windowID;
            if (name == "accountDigest") return Member::accountDigest;
            if (name == "durationMinutes") return Member::durationMinutes;
            if (name == "resetsAt") return Member::resetsAt;
            if (name == "samples") return Member::samples;
            break;
        case Level::sample:
            if (name == "date") return Member::date;
            if (name == "usedPercent") return Member::usedPercent;
            if (name == "startsSegment") return Member::startsSegment;
            if (name == "transition") return Member::transition;
            break;
        case Level::transition:
            if (name == "date") return Member::date;
            if (name == "kind") return Member::kind;
            if (name == "isEstimated") return Member::isEstimated;
            break;
        case Level::rhythm:
            if (name == "accountDigest") return Member::accountDigest;
            if (name == "durationMinutes") return Member::durationMinutes;
            if (name == "timeZoneIdentifier") return Member::timeZoneIdentifier;
            if (name == "hours") return Member::hours;
            break;
        case Level::hour:
            if (name == "start") return Member::start;
            if (name == "usedPercent") return Member::usedPercent;
            if (name == "observedSeconds") return Member::observedSeconds;
            break;
        default:
            break;
    }
    return Member::unknown;
}

}  // namespace

bool ArchiveEventReader::key(std::string_view name) {
    if (skipping_) return true;
    const Level level = levels_.back();
    if (level == Level::seriesMap || level == Level::rhythmMap || level == Level::accountMap) {
        mapKey_ = name;
        return true;
    }
    member_ = memberOf(level, name);
    if (member_ == Member::unknown) return true;
    // The new value replaces the old one, whatever it was.
    switch (level) {
        case Level::root:
            rootMembers_.restart(member_);
            if (member_ == Member::series) {
                archive_.series.clear();
                badSeries_.clear();
            } else if (member_ == Member::rhythms) {
                archive_.rhythms.clear();
                badRhythms_.clear();
            } else if (member_ == Member::lastKnownAccounts) {
                archive_.lastKnownAccounts.clear();
            }
            break;
        case Level::series:
            seriesMembers_.restart(member_);
            if (member_ == Member::durationMinutes) series_.durationMinutes.reset();
            if (member_ == Member::resetsAt) series_.resetsAt.reset();
            if (member_ == Member::samples) series_.samples.clear();
            break;
        case Level::sample:
            sampleMembers_.restart(member_);
            if (member_ == Member::transition) sample_.transition.reset();
            break;
        case Level::transition:
            transitionMembers_.restart(member_);
            break;
        case Level::rhythm:
            rhythmMembers_.restart(member_);
            if (member_ == Member::durationMinutes) rhythm_.durationMinutes.reset();
            if (member_ == Member::hours) rhythm_.hours.clear();
            break;
        case Level::hour:
            hourMembers_.restart(member_);
            break;
        default:
            break;
    }
    return true;
}

bool ArchiveEventReader::open(bool isObject) {
    if (++depth_ > kMaxDepth) return false;
    if (skipping_) {
        ++skipping_;
        return true;
    }
    if (levels_.empty()) {
        if (!isObject) return false;
        enter(Level::root);
        return true;
    }
    switch (levels_.back()) {
        case Level::root:
            if (isObject && member_ == Member::series) {
                enter(Level::seriesMap);
                return true;
            }
            if (isObject && member_ == Member::rhythms) {
                enter(Level::rhythmMap);
                return true;
            }
            if (isObject && member_ == Member::lastKnownAccounts) {
                enter(Level::accountMap);
                return true;
            }
            break;
        case Level::seriesMap:
            if (isObject) {
                series_ = UsageSeries{};
                seriesMembers_ = Members{};
                enter(Level::series);
                return true;
            }
            break;
        case Level::series:
            if (!isObject && member_ == Member::samples) {
                badSample_ = false;
                enter(Level::samples);
                return true;
            }
            break;
        case Level::samples:
            if (isObject) {
                sample_ = UsageSample{};
                sampleMembers_ = Members{};
                enter(Level::sample);
                return true;
            }
            break;
        case Level::sample:
            if (isObject && member_ == Member::transition) {
                transition_ = UsageTransition{};
                transitionMembers_ = Members{};
                enter(Level::transition);
                return true;
            }
            break;
        case Level::rhythmMap:
            if (isObject) {
                rhythm_ = RhythmHistory{};
                rhythmMembers_ = Members{};
                enter(Level::rhythm);
                return true;
            }
            break;
        case Level::rhythm:
            if (!isObject && member_ == Member::hours) {
                badHour_ = false;
                enter(Level::hours);
                return true;
            }
            break;
        case Level::hours:
            if (isObject) {
                hour_ = RhythmHour{};
                hourMembers_ = Members{};
                enter(Level::hour);
                return true;
            }
            break;
        default:
            break;
    }
    // A container where the format has none (a wrong type for a known member) or inside a
    // member nobody reads: judge it like a scalar of the wrong type, then skip its contents.
    scalar(Scalar{Scalar::Type::container});
    skipping_ = 1;
    return true;
}

bool ArchiveEventReader::close() {
    --depth_;
    if (skipping_) {
        --skipping_;
        return true;
    }
    const Level level = levels_.back();
    levels_.pop_back();
    switch (level) {
        case Level::root:
            done_ = true;
            break;
        case Level::seriesMap:
            rootMembers_.mark(Member::series, badSeries_.empty() ? Got::value : Got::wrong);
            break;
        case Level::series:
            settleSeries(seriesMembers_.complete(kSeriesRequired));
            break;
        case Level::samples:
            seriesMembers_.mark(Member::samples, badSample_ ? Got::wrong : Got::value);
            break;
        case Level::sample:
            if (sampleMembers_.complete(kSampleRequired)) {
                series_.samples.push_back(sample_);
            } else {
                badSample_ = true;
            }
            break;
        case Level::transition:
            if (transitionMembers_.complete(kTransitionRequired)) {
                sample_.transition = transition_;
                sampleMembers_.mark(Member::transition, Got::value);
            } else {
                sampleMembers_.mark(Member::transition, Got::wrong);
            }
            break;
        case Level::rhythmMap:
            rootMembers_.mark(Member::rhythms, badRhythms_.empty() ? Got::value : Got::wrong);
            break;
        case Level::accountMap:
            break;
        case Level::rhythm:
            settleRhythm(rhythmMembers_.complete(kRhythmRequired));
            break;
        case Level::hours:
            rhythmMembers_.mark(Member::hours, badHour_ ? Got::wrong : Got::value);
            break;
        case Level::hour:
            if (hourMembers_.complete(kHourRequired)) {
                rhythm_.hours.push_back(hour_);
            } else {
                badHour_ = true;
            }
            break;
    }
    return true;
}

bool ArchiveEventReader::scalar(const Scalar& value) {
    if (skipping_) return true;
    // The document itself must be an object.
    if (levels_.empty()) return false;
    switch (levels_.back()) {
        case Level::root:
            switch (member_) {
                case Member::version:
                    rootMembers_.mark(member_, readInteger(value, version_));
                    break;
                case Member::series:
                case Member::rhythms:
                    rootMembers_.mark(member_,
                                      value.type == Scalar::Type::null ? Got::absent : Got::wrong);
                    break;
                default:
                    break;
            }
            break;
        case Level::seriesMap:
            // Null included: every entry must be a series.
            settleSeries(false);
            break;
        case Level::series:
            switch (member_) {
                case Member::provider:
                    seriesMembers_.mark(member_, readRawValue(value, series_.provider,
                                                              model::providerKindFromRawValue));
                    break;
                case Member::windowID:
                    seriesMembers_.mark(member_, readString(value, series_.windowID));
                    break;
                case Member::accountDigest:
                    seriesMembers_.mark(member_, readString(value, series_.accountDigest));
                    break;
                case Member::durationMinutes:
                    seriesMembers_.mark(member_, readInteger(value, series_.durationMinutes));
                    break;
                case Member::resetsAt:
                    seriesMembers_.mark(member_, readOptionalDate(value, series_.resetsAt));
                    break;
                case Member::samples:
                    seriesMembers_.mark(
                        member_, value.type == Scalar::Type::null ? Got::absent : Got::wrong);
                    break;
                default:
                    break;
            }
            break;
        case Level::samples:
            badSample_ = true;
            break;
        case Level::sample:
            switch (member_) {
                case Member::date:
                    sampleMembers_.mark(member_, readDate(value, sample_.date));
                    break;
                case Member::usedPercent:
                    sampleMembers_.mark(member_, readNumber(value, sample_.usedPercent));
                    break;
                case Member::startsSegment:
                    sampleMembers_.mark(member_, readBool(value, sample_.startsSegment));
                    break;
                case Member::transition:
                    sampleMembers_.mark(
                        member_, value.type == Scalar::Type::null ? Got::absent : Got::wrong);
                    break;
                default:
                    break;
            }
            break;
        case Level::transition:
            switch (member_) {
                case Member::date:
                    transitionMembers_.mark(member_, readDate(value, transition_.date));
                    break;
                case Member::kind:
                    transitionMembers_.mark(
                        member_, readRawValue(value, transition_.kind, transitionKindFromRawValue));
                    break;
                case Member::isEstimated:
                    transitionMembers_.mark(member_, readBool(value, transition_.isEstimated));
                    break;
                default:
                    break;
            }
            break;
        case Level::rhythmMap:
            settleRhythm(false);
            break;
        case Level::accountMap:
            // Only a hint for telling accounts apart: an odd entry is skipped, not fatal. Of a
            // repeated provider the last value counts, as everywhere in the file.
            if (const auto provider = model::providerKindFromRawValue(mapKey_)) {
                if (value.type == Scalar::Type::string) {
                    archive_.lastKnownAccounts.insert_or_assign(*provider, std::string(value.text));
                } else {
                    archive_.lastKnownAccounts.erase(*provider);
                }
            }
            break;
        case Level::rhythm:
            switch (member_) {
                case Member::accountDigest:
                    rhythmMembers_.mark(member_, readString(value, rhythm_.accountDigest));
                    break;
                case Member::durationMinutes:
                    rhythmMembers_.mark(member_, readInteger(value, rhythm_.durationMinutes));
                    break;
                case Member::timeZoneIdentifier:
                    rhythmMembers_.mark(member_, readString(value, rhythm_.timeZoneIdentifier));
                    break;
                case Member::hours:
                    rhythmMembers_.mark(
                        member_, value.type == Scalar::Type::null ? Got::absent : Got::wrong);
                    break;
                default:
                    break;
            }
            break;
        case Level::hours:
            badHour_ = true;
            break;
        case Level::hour:
            switch (member_) {
                case Member::start:
                    hourMembers_.mark(member_, readDate(value, hour_.start));
                    break;
                case Member::usedPercent:
                    hourMembers_.mark(member_, readNumber(value, hour_.usedPercent));
                    break;
                case Member::observedSeconds:
                    hourMembers_.mark(member_, readNumber(value, hour_.observedSeconds));
                    break;
                default:
                    break;
            }
            break;
    }
    return true;
}

void ArchiveEventReader::settleSeries(bool valid) {
    if (valid) {
        archive_.series.insert_or_assign(mapKey_, std::move(series_));
        badSeries_.erase(mapKey_);
    } else {
        archive_.series.erase(mapKey_);
        badSeries_.insert(mapKey_);
    }
}

void ArchiveEventReader::settleRhythm(bool valid) {
    if (valid) {
        archive_.rhythms.insert_or_assign(mapKey_, std::move(rhythm_));
        badRhythms_.erase(mapKey_);
    } else {
        archive_.rhythms.erase(mapKey_);
        badRhythms_.insert(mapKey_);
    }
}

std::optional<UsageArchive> ArchiveEventReader::finish() {
    if (!done_ || !rootMembers_.complete(kRootRequired)) return std::nullopt;
    if (version_ != UsageArchive::currentVersion) return std::nullopt;
    archive_.version = *version_;
    return std::move(archive_);
}

}  // namespace kestrane::history
