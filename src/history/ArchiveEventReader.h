#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "history/UsageArchive.h"
#include "platform/Json.h"

namespace kestrane::history {

// Reading the archive walks the JSON events of the text (no document tree: a full archive is 15 MB
// of small objects) and fills the records directly. It accepts exactly what reading the whole
// document as a tree and then picking members would accept:
// - unknown members are skipped whatever they hold, null counts as absent;
// - when a key repeats inside an object, the last value wins, and an earlier value of the
//   wrong type does not count against the file; so a member's verdict is only final when its
//   object closes;
// - nesting deeper than parseJson allows is refused.

// The reader's bookkeeping, here only because the reader keeps its state in these types.
namespace archive_events {

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
    lastKnownAccounts,
};

constexpr std::uint32_t bit(Member member) { return 1u << static_cast<unsigned>(member); }

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
    accountMap,
};

}  // namespace archive_events

// Receives the events of nlohmann::json::sax_parse (the method names are that interface's) and
// fills the records directly.
// Every container of the format can only occur at one place, so one record per level is
// enough; `levels_` says which of them are open.
class ArchiveEventReader {
  public:
    using Scalar = archive_events::Scalar;

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
    bool binary(platform::Json::binary_t&) { return false; }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& name) { return key(std::string_view(name)); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    // The same events from PlainJsonScanner, which has no std::string to hand.
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
    using Level = archive_events::Level;
    using Member = archive_events::Member;
    using Members = archive_events::Members;

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

}  // namespace kestrane::history
