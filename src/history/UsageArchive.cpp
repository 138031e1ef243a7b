#include "history/UsageArchive.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/Json.h"

namespace kestrane::history {
namespace {

using platform::Json;

// Writes JSON text directly: the archive is rewritten after every observation and can hold
// a couple of hundred thousand samples, far more than is worth building a document tree for.
class Writer {
  public:
    explicit Writer(std::string& out) : out_(out) {}

    void raw(std::string_view text) { out_.append(text); }

    void string(std::string_view text) {
        // Provider window ids come from outside and may hold anything; the library escapes
        // control characters and replaces invalid UTF-8 so the file always parses again.
        out_.append(Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
    }

    void key(std::string_view name) {
        string(name);
        out_.push_back(':');
    }

    void number(double value) {
        if (!std::isfinite(value)) throw std::domain_error("non-finite number in the archive");
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }

    void integer(std::int64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }

    void date(platform::Date value) { number(value.secondsSinceReferenceDate()); }

    void boolean(bool value) { out_.append(value ? "true" : "false"); }

  private:
    std::string& out_;
};

void writeTransition(Writer& w, const UsageTransition& transition) {
    w.raw("{\"date\":");
    w.date(transition.date);
    w.raw(",\"kind\":\"");
    w.raw(rawValue(transition.kind));
    w.raw("\",\"isEstimated\":");
    w.boolean(transition.isEstimated);
    w.raw("}");
}

void writeSeries(Writer& w, const UsageSeries& series) {
    w.raw("{\"provider\":");
    w.string(model::rawValue(series.provider));
    w.raw(",\"windowID\":");
    w.string(series.windowID);
    w.raw(",\"accountDigest\":");
    w.string(series.accountDigest);
    if (series.durationMinutes) {
        w.raw(",\"durationMinutes\":");
        w.integer(*series.durationMinutes);
    }
    if (series.resetsAt) {
        w.raw(",\"resetsAt\":");
        w.date(*series.resetsAt);
    }
    w.raw(",\"samples\":[");
    bool first = true;
    for (const auto& sample : series.samples) {
        if (!first) w.raw(",");
        first = false;
        w.raw("{\"date\":");
        w.date(sample.date);
        w.raw(",\"usedPercent\":");
        w.number(sample.usedPercent);
        w.raw(",\"startsSegment\":");
        w.boolean(sample.startsSegment);
        if (sample.transition) {
            w.raw(",\"transition\":");
            writeTransition(w, *sample.transition);
        }
        w.raw("}");
    }
    w.raw("]}");
}

void writeRhythm(Writer& w, const RhythmHistory& rhythm) {
    w.raw("{\"accountDigest\":");
    w.string(rhythm.accountDigest);
    if (rhythm.durationMinutes) {
        w.raw(",\"durationMinutes\":");
        w.integer(*rhythm.durationMinutes);
    }
    w.raw(",\"timeZoneIdentifier\":");
    w.string(rhythm.timeZoneIdentifier);
    w.raw(",\"hours\":[");
    bool first = true;
    for (const auto& hour : rhythm.hours) {
        if (!first) w.raw(",");
        first = false;
        w.raw("{\"start\":");
        w.date(hour.start);
        w.raw(",\"usedPercent\":");
        w.number(hour.usedPercent);
        w.raw(",\"observedSeconds\":");
        w.number(hour.observedSeconds);
        w.raw("}");
    }
    w.raw("]}");
}

// Reading walks the JSON events of the text (no document tree: a full archive is 15 MB of
// small objects) and fills the records directly. It accepts exactly what reading the whole
// document as a tree and then picking members would accept:
// - unknown members are skipped whatever they hold, null counts as absent;
// - when a key repeats inside an object, the last value wins, and an earlier value of the
//   wrong type does not count against the file; so a member's verdict is only final when its
//   object closes;
// - nesting deeper than parseJson allows is refused.
constexpr std::size_t kMaxDepth = 128;

enum class Member : std::uint8_t {
    unknown,
    version,
    series,
    rhythms,
    provider,
    windowID,
    accountDigest,
    durationMinutes,
    resetsAt,
    samples,
    date,
    usedPercent,
    startsSegment,
    transition,
    kind,
    isEstimated,
    timeZoneIdentifier,
    hours,
    start,
    observedSeconds,
};

constexpr std::uint32_t bit(Member member) { return 1u << static_cast<unsigned>(member); }

template <typename... M>
constexpr std::uint32_t bits(M... members) {
    return (bit(members) | ...);
}

// What became of a member's last value.
enum class Got : std::uint8_t { absent, value, wrong };

// The members of one open object: which hold a usable value, which a value of the wrong type.
struct Members {
    std::uint32_t given = 0;
    std::uint32_t wrong = 0;

    // A repeated key starts the member over.
    void restart(Member member) {
        given &= ~bit(member);
        wrong &= ~bit(member);
    }
    void mark(Member member, Got got) {
        if (got == Got::value) given |= bit(member);
        if (got == Got::wrong) wrong |= bit(member);
    }
    bool complete(std::uint32_t required) const {
        return wrong == 0 && (given & required) == required;
    }
};

// One scalar event, or a container where a scalar member was expected.
struct Scalar {
    enum class Type : std::uint8_t {
        null,
        boolean,
        integer,
        unsignedInteger,
        floating,
        string,
        container
    };
    Type type = Type::null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double floating = 0;
    std::string_view text;
};

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
            // 2^63 is the first double past the int64 range.
            if (std::trunc(value.floating) == value.floating &&
                std::fabs(value.floating) < 9.2e18) {
                out = static_cast<std::int64_t>(value.floating);
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

// The open containers the archive format knows; containers nobody reads are skipped.
enum class Level : std::uint8_t {
    root,
    seriesMap,
    series,
    samples,
    sample,
    transition,
    rhythmMap,
    rhythm,
    hours,
    hour,
};

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

// Receives the events of nlohmann::json::sax_parse (the method names are that interface's).
// Every container of the format can only occur at one place, so one record per level is
// enough; `levels_` says which of them are open.
class ArchiveReader {
  public:
    bool null() { return scalar(Scalar{}); }
    bool boolean(bool value) {
        Scalar scalar{Scalar::Type::boolean};
        scalar.boolean = value;
        return this->scalar(scalar);
    }
    bool number_integer(std::int64_t value) {
        Scalar scalar{Scalar::Type::integer};
        scalar.integer = value;
        return this->scalar(scalar);
    }
    bool number_unsigned(std::uint64_t value) {
        Scalar scalar{Scalar::Type::unsignedInteger};
        scalar.unsignedInteger = value;
        return this->scalar(scalar);
    }
    bool number_float(double value, const std::string&) { return floating(value); }
    bool string(std::string& value) { return text(value); }
    // JSON text holds no binary values.
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& name) { return key(std::string_view(name)); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    // The same events from FastReader, which has no std::string to hand.
    bool key(std::string_view name);
    bool floating(double value) {
        Scalar scalar{Scalar::Type::floating};
        scalar.floating = value;
        return this->scalar(scalar);
    }
    bool text(std::string_view value) {
        Scalar scalar{Scalar::Type::string};
        scalar.text = value;
        return this->scalar(scalar);
    }

    // The archive after the last event, or nullopt when the document is not a valid archive.
    std::optional<UsageArchive> finish();

  private:
    bool open(bool isObject);
    bool close();
    bool scalar(const Scalar& value);
    void enter(Level level) { levels_.push_back(level); }
    void settleSeries(bool valid);
    void settleRhythm(bool valid);

    std::vector<Level> levels_;
    std::size_t depth_ = 0;
    // Depth inside a container that is being skipped; 0 when not skipping.
    std::size_t skipping_ = 0;
    bool done_ = false;
    // The member the next value belongs to, in the innermost open object.
    Member member_ = Member::unknown;
    // The key of the open series or rhythm in its map.
    std::string mapKey_;

    UsageArchive archive_;
    Members rootMembers_;
    std::optional<std::int64_t> version_;
    // Keys whose last value is not a valid series or rhythm.
    std::set<std::string, std::less<>> badSeries_;
    std::set<std::string, std::less<>> badRhythms_;

    UsageSeries series_;
    Members seriesMembers_;
    bool badSample_ = false;
    UsageSample sample_;
    Members sampleMembers_;
    UsageTransition transition_;
    Members transitionMembers_;

    RhythmHistory rhythm_;
    Members rhythmMembers_;
    bool badHour_ = false;
    RhythmHour hour_;
    Members hourMembers_;
};

bool ArchiveReader::key(std::string_view name) {
    if (skipping_) return true;
    const Level level = levels_.back();
    if (level == Level::seriesMap || level == Level::rhythmMap) {
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

bool ArchiveReader::open(bool isObject) {
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

bool ArchiveReader::close() {
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

bool ArchiveReader::scalar(const Scalar& value) {
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

void ArchiveReader::settleSeries(bool valid) {
    if (valid) {
        archive_.series.insert_or_assign(mapKey_, std::move(series_));
        badSeries_.erase(mapKey_);
    } else {
        archive_.series.erase(mapKey_);
        badSeries_.insert(mapKey_);
    }
}

void ArchiveReader::settleRhythm(bool valid) {
    if (valid) {
        archive_.rhythms.insert_or_assign(mapKey_, std::move(rhythm_));
        badRhythms_.erase(mapKey_);
    } else {
        archive_.rhythms.erase(mapKey_);
        badRhythms_.insert(mapKey_);
    }
}

std::optional<UsageArchive> ArchiveReader::finish() {
    if (!done_ || !rootMembers_.complete(kRootRequired)) return std::nullopt;
    if (version_ != UsageArchive::currentVersion) return std::nullopt;
    archive_.version = *version_;
    return std::move(archive_);
}

// The archives this program writes take nearly all of their reading time in the general JSON
// parser's tokenizer (character by character, with every number through strtod). This reader
// takes the plain subset of JSON our writer produces: strings of printable ASCII without
// escapes, numbers of at most 18 integer digits or within double range, the usual whitespace.
// It hands the same events to the same ArchiveReader. Whenever it meets anything outside that
// subset, or the text is not a valid archive, it gives up and the general parser reads the
// whole text again, so every verdict on an unusual or broken file is the general parser's.
class FastReader {
  public:
    FastReader(std::string_view text, ArchiveReader& reader)
        : p_(text.data()), end_(text.data() + text.size()), reader_(reader) {}

    // True when the whole text was one value of the subset and the reader took every event.
    bool run() {
        skipSpace();
        if (!value()) return false;
        skipSpace();
        return p_ == end_;
    }

  private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool value() {
        if (p_ == end_) return false;
        switch (*p_) {
            case '{':
                return object();
            case '[':
                return array();
            case '"': {
                std::string_view text;
                return string(text) && reader_.text(text);
            }
            case 't':
                return literal("true") && reader_.boolean(true);
            case 'f':
                return literal("false") && reader_.boolean(false);
            case 'n':
                return literal("null") && reader_.null();
            default:
                return number();
        }
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::string_view(p_, word.size()) != word) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    bool object() {
        ++p_;
        if (!reader_.start_object(0)) return false;
        skipSpace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return reader_.end_object();
        }
        for (;;) {
            std::string_view name;
            if (p_ == end_ || *p_ != '"' || !string(name) || !reader_.key(name)) return false;
            skipSpace();
            if (p_ == end_ || *p_ != ':') return false;
            ++p_;
            skipSpace();
            if (!value()) return false;
            skipSpace();
            if (p_ == end_) return false;
            if (*p_ == '}') {
                ++p_;
                return reader_.end_object();
            }
            if (*p_ != ',') return false;
            ++p_;
            skipSpace();
        }
    }

    bool array() {
        ++p_;
        if (!reader_.start_array(0)) return false;
        skipSpace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return reader_.end_array();
        }
        for (;;) {
            if (!value()) return false;
            skipSpace();
            if (p_ == end_) return false;
            if (*p_ == ']') {
                ++p_;
                return reader_.end_array();
            }
            if (*p_ != ',') return false;
            ++p_;
            skipSpace();
        }
    }

    // Printable ASCII only: escapes, control characters and UTF-8 are left to the full parser.
    bool string(std::string_view& out) {
        const char* begin = ++p_;
        while (p_ != end_) {
            const char c = *p_;
            if (c == '"') {
                out = std::string_view(begin, static_cast<std::size_t>(p_ - begin));
                ++p_;
                return true;
            }
            if (c < 0x20 || c > 0x7E || c == '\\') return false;
            ++p_;
        }
        return false;
    }

    // The JSON number grammar exactly. Like the general parser, a number without fraction or
    // exponent is an integer, signed when it has a minus sign; the rest are doubles, rounded
    // correctly by from_chars as by strtod.
    bool number() {
        const char* begin = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (p_ == end_) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ != end_ && isDigit(*p_)) ++p_;
        } else {
            return false;
        }
        const char* integerEnd = p_;
        bool integral = true;
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isDigit(*p_)) return false;
            while (p_ != end_ && isDigit(*p_)) ++p_;
            integral = false;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !isDigit(*p_)) return false;
            while (p_ != end_ && isDigit(*p_)) ++p_;
            integral = false;
        }
        if (integral) {
            const char* digit = begin + (negative ? 1 : 0);
            // Longer ones might not fit in 64 bits; the general parser has rules for those.
            if (integerEnd - digit > 18) return false;
            std::int64_t value = 0;
            for (; digit != integerEnd; ++digit) value = value * 10 + (*digit - '0');
            return negative ? reader_.number_integer(-value)
                            : reader_.number_unsigned(static_cast<std::uint64_t>(value));
        }
        double value = 0;
        const auto result = std::from_chars(begin, p_, value);
        // Out of range (overflow or underflow) is the general parser's call.
        if (result.ec != std::errc() || result.ptr != p_) return false;
        return reader_.floating(value);
    }

    const char* p_;
    const char* end_;
    ArchiveReader& reader_;
};

}  // namespace

std::string encodeArchive(const UsageArchive& archive) {
    std::string out;
    std::size_t samples = 0;
    for (const auto& [key, series] : archive.series) samples += series.samples.size();
    out.reserve(256 + samples * 80);
    Writer w(out);
    w.raw("{\"version\":");
    w.integer(archive.version);
    w.raw(",\"series\":{");
    bool first = true;
    for (const auto& [key, series] : archive.series) {
        if (!first) w.raw(",");
        first = false;
        w.key(key);
        writeSeries(w, series);
    }
    w.raw("},\"rhythms\":{");
    first = true;
    for (const auto& [key, rhythm] : archive.rhythms) {
        if (!first) w.raw(",");
        first = false;
        w.key(key);
        writeRhythm(w, rhythm);
    }
    w.raw("}}");
    return out;
}

UsageArchive decodeArchive(std::string_view text) {
    {
        ArchiveReader reader;
        if (FastReader(text, reader).run()) {
            if (auto archive = reader.finish()) return std::move(*archive);
        }
    }
    // Anything the quick path does not take, valid or not, is decided by the full parser.
    ArchiveReader reader;
    if (!Json::sax_parse(text, &reader)) throw platform::DecodingError();
    auto archive = reader.finish();
    if (!archive) throw platform::DecodingError();
    return std::move(*archive);
}

}  // namespace kestrane::history
