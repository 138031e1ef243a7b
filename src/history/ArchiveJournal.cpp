#include "history/ArchiveJournal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <optional>

#include "history/PlainJsonScanner.h"
#include "platform/Json.h"

namespace kestrane::history::journal {
namespace {

using platform::Date;
using platform::Json;

constexpr std::string_view kMagic = "kestrane-history-journal";
constexpr std::size_t kHashDigits = 16;

// GCC and Clang on every platform this builds for have it.
__extension__ typedef unsigned __int128 Wide;

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    const Wide product = static_cast<Wide>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t load64(const char* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

std::string hex(std::uint64_t value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(kHashDigits, '0');
    for (std::size_t i = kHashDigits; i-- > 0; value >>= 4) text[i] = digits[value & 15];
    return text;
}

std::optional<std::uint64_t> parseHex(std::string_view text) {
    if (text.size() != kHashDigits) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

// --- Writing ---------------------------------------------------------------------------------

class LineWriter {
  public:
    explicit LineWriter(std::string& out) : out_(out) {}

    void raw(std::string_view text) { out_.append(text); }
    void string(std::string_view text) {
        const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
            return c >= 0x20 && c <= 0x7E && c != '"' && c != '\\';
        });
        if (plain) {
            out_.push_back('"');
            out_.append(text);
            out_.push_back('"');
            return;
        }
        // Window ids come from outside: the library escapes them and replaces invalid UTF-8,
        // exactly as in the archive file.
        out_.append(Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    void number(double value) {
        if (std::isnan(value)) return raw("\"nan\"");
        if (std::isinf(value)) return raw(value > 0 ? "\"inf\"" : "\"-inf\"");
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    void integer(std::int64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    void count(std::size_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.append(buffer, result.ptr);
    }
    void date(Date value) { number(value.secondsSince1970); }
    void optionalDate(const std::optional<Date>& value) {
        if (value) {
            date(*value);
        } else {
            raw("null");
        }
    }
    void optionalInteger(const std::optional<std::int64_t>& value) {
        if (value) {
            integer(*value);
        } else {
            raw("null");
        }
    }
    void boolean(bool value) { raw(value ? "true" : "false"); }

    // `["<name>",<key>` of a change; the caller adds its values and the closing bracket.
    void open(std::string_view name, std::string_view key) {
        raw("[\"");
        raw(name);
        raw("\",");
        string(key);
    }

  private:
    std::string& out_;
};

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

void writeChange(LineWriter& w, const ArchiveChange& change) {
    using namespace history::change;
    std::visit(Overloaded{
                   [&](const NewSeries& c) {
                       w.open("series", c.key);
                       w.raw(",");
                       w.string(model::rawValue(c.header.provider));
                       w.raw(",");
                       w.string(c.header.windowID);
                       w.raw(",");
                       w.string(c.header.accountDigest);
                       w.raw(",");
                       w.optionalInteger(c.header.durationMinutes);
                       w.raw(",");
                       w.optionalDate(c.header.resetsAt);
                   },
                   [&](const RemoveSeries& c) { w.open("drop-series", c.key); },
                   [&](const SeriesAccount& c) {
                       w.open("series-account", c.key);
                       w.raw(",");
                       w.string(c.digest);
                   },
                   [&](const SeriesReset& c) {
                       w.open("series-reset", c.key);
                       w.raw(",");
                       w.optionalDate(c.resetsAt);
                   },
                   [&](const DropFirstSamples& c) {
                       w.open("drop-first", c.key);
                       w.raw(",");
                       w.count(c.count);
                   },
                   [&](const DropLastSample& c) { w.open("drop-last", c.key); },
                   [&](const AppendSample& c) {
                       w.open("sample", c.key);
                       w.raw(",");
                       w.date(c.sample.date);
                       w.raw(",");
                       w.number(c.sample.usedPercent);
                       w.raw(",");
                       w.boolean(c.sample.startsSegment);
                       if (const auto& t = c.sample.transition) {
                           w.raw(",");
                           w.date(t->date);
                           w.raw(",\"");
                           w.raw(rawValue(t->kind));
                           w.raw("\",");
                           w.boolean(t->isEstimated);
                       }
                   },
                   [&](const ThinSamples& c) { w.open("thin", c.key); },
                   [&](const DropSamplesAfter& c) {
                       w.open("drop-samples-after", c.key);
                       w.raw(",");
                       w.date(c.limit);
                   },
                   [&](const NewRhythm& c) {
                       w.open("rhythm", c.key);
                       w.raw(",");
                       w.string(c.header.accountDigest);
                       w.raw(",");
                       w.optionalInteger(c.header.durationMinutes);
                       w.raw(",");
                       w.string(c.header.timeZoneIdentifier);
                   },
                   [&](const RemoveRhythm& c) { w.open("drop-rhythm", c.key); },
                   [&](const RhythmAccount& c) {
                       w.open("rhythm-account", c.key);
                       w.raw(",");
                       w.string(c.digest);
                   },
                   [&](const SetHour& c) {
                       w.open("hour", c.key);
                       w.raw(",");
                       w.count(c.index);
                       w.raw(",");
                       w.date(c.hour.start);
                       w.raw(",");
                       w.number(c.hour.usedPercent);
                       w.raw(",");
                       w.number(c.hour.observedSeconds);
                   },
                   [&](const DropHoursBefore& c) {
                       w.open("drop-hours-before", c.key);
                       w.raw(",");
                       w.date(c.cutoff);
                   },
                   [&](const DropHoursAfter& c) {
                       w.open("drop-hours-after", c.key);
                       w.raw(",");
                       w.date(c.limit);
                   },
                   [&](const LastKnownAccount& c) {
                       w.open("account", model::rawValue(c.provider));
                       w.raw(",");
                       w.string(c.digest);
                   },
               },
               change);
    w.raw("]");
}

void appendLine(std::string& out, std::string_view json) {
    out.append(hex(contentHash(json)));
    out.push_back(' ');
    out.append(json);
    out.push_back('\n');
}

// --- Reading ---------------------------------------------------------------------------------

struct Value {
    enum class Type : std::uint8_t { null, boolean, integer, unsignedInteger, floating, string };
    Type type = Type::null;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double floating = 0;
    // Into the line, or into the reader's copies of what the general parser handed over.
    std::string_view text;
};

std::optional<std::string> text(const Value& v) {
    if (v.type != Value::Type::string) return std::nullopt;
    return std::string(v.text);
}

std::optional<double> number(const Value& v) {
    switch (v.type) {
        case Value::Type::integer:
            return static_cast<double>(v.integer);
        case Value::Type::unsignedInteger:
            return static_cast<double>(v.unsignedInteger);
        case Value::Type::floating:
            return v.floating;
        case Value::Type::string:
            if (v.text == "inf") return std::numeric_limits<double>::infinity();
            if (v.text == "-inf") return -std::numeric_limits<double>::infinity();
            if (v.text == "nan") return std::numeric_limits<double>::quiet_NaN();
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<Date> date(const Value& v) {
    const auto seconds = number(v);
    if (!seconds) return std::nullopt;
    return Date{*seconds};
}

// Absent (null) or a date; false for anything else.
bool optionalDate(const Value& v, std::optional<Date>& out) {
    if (v.type == Value::Type::null) {
        out.reset();
        return true;
    }
    const auto d = date(v);
    if (!d) return false;
    out = d;
    return true;
}

bool optionalInteger(const Value& v, std::optional<std::int64_t>& out) {
    switch (v.type) {
        case Value::Type::null:
            out.reset();
            return true;
        case Value::Type::integer:
            out = v.integer;
            return true;
        case Value::Type::unsignedInteger:
            if (v.unsignedInteger >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return false;
            }
            out = static_cast<std::int64_t>(v.unsignedInteger);
            return true;
        default:
            return false;
    }
}

std::optional<std::size_t> count(const Value& v) {
    if (v.type == Value::Type::unsignedInteger &&
        v.unsignedInteger <= std::numeric_limits<std::size_t>::max()) {
        return static_cast<std::size_t>(v.unsignedInteger);
    }
    return std::nullopt;
}

std::optional<bool> flag(const Value& v) {
    if (v.type != Value::Type::boolean) return std::nullopt;
    return v.boolean;
}

// One change from its values; nullopt for anything that is not exactly one.
std::optional<ArchiveChange> decodeChange(const std::vector<Value>& values) {
    using namespace history::change;
    if (values.size() < 2) return std::nullopt;
    const auto name = text(values[0]);
    auto key = text(values[1]);
    if (!name || !key) return std::nullopt;
    const std::size_t n = values.size();
    const auto& v = values;
    if (*name == "sample") {
        if (n != 5 && n != 8) return std::nullopt;
        AppendSample c{std::move(*key), {}};
        const auto d = date(v[2]);
        const auto used = number(v[3]);
        const auto starts = flag(v[4]);
        if (!d || !used || !starts) return std::nullopt;
        c.sample = UsageSample{*d, *used, *starts, std::nullopt};
        if (n == 8) {
            const auto td = date(v[5]);
            const auto kindText = text(v[6]);
            const auto estimated = flag(v[7]);
            if (!td || !kindText || !estimated) return std::nullopt;
            const auto kind = transitionKindFromRawValue(*kindText);
            if (!kind) return std::nullopt;
            c.sample.transition = UsageTransition{*td, *kind, *estimated};
        }
        return c;
    }
    if (*name == "hour") {
        if (n != 6) return std::nullopt;
        const auto index = count(v[2]);
        const auto start = date(v[3]);
        const auto used = number(v[4]);
        const auto observed = number(v[5]);
        if (!index || !start || !used || !observed) return std::nullopt;
        return SetHour{std::move(*key), *index, RhythmHour{*start, *used, *observed}};
    }
    if (*name == "series") {
        if (n != 7) return std::nullopt;
        const auto providerText = text(v[2]);
        auto windowID = text(v[3]);
        auto digest = text(v[4]);
        if (!providerText || !windowID || !digest) return std::nullopt;
        const auto provider = model::providerKindFromRawValue(*providerText);
        if (!provider) return std::nullopt;
        NewSeries c{std::move(*key), {}};
        c.header.provider = *provider;
        c.header.windowID = std::move(*windowID);
        c.header.accountDigest = std::move(*digest);
        if (!optionalInteger(v[5], c.header.durationMinutes)) return std::nullopt;
        if (!optionalDate(v[6], c.header.resetsAt)) return std::nullopt;
        return c;
    }
    if (*name == "rhythm") {
        if (n != 5) return std::nullopt;
        auto digest = text(v[2]);
        auto zone = text(v[4]);
        if (!digest || !zone) return std::nullopt;
        NewRhythm c{std::move(*key), {}};
        c.header.accountDigest = std::move(*digest);
        c.header.timeZoneIdentifier = std::move(*zone);
        if (!optionalInteger(v[3], c.header.durationMinutes)) return std::nullopt;
        return c;
    }
    if (*name == "series-reset") {
        if (n != 3) return std::nullopt;
        SeriesReset c{std::move(*key), std::nullopt};
        if (!optionalDate(v[2], c.resetsAt)) return std::nullopt;
        return c;
    }
    if (*name == "drop-first") {
        const auto number = n == 3 ? count(v[2]) : std::nullopt;
        if (!number) return std::nullopt;
        return DropFirstSamples{std::move(*key), *number};
    }
    if (*name == "series-account" || *name == "rhythm-account" || *name == "account") {
        auto digest = n == 3 ? text(v[2]) : std::nullopt;
        if (!digest) return std::nullopt;
        if (*name == "series-account") return SeriesAccount{std::move(*key), std::move(*digest)};
        if (*name == "rhythm-account") return RhythmAccount{std::move(*key), std::move(*digest)};
        const auto provider = model::providerKindFromRawValue(*key);
        if (!provider) return std::nullopt;
        return LastKnownAccount{*provider, std::move(*digest)};
    }
    if (*name == "drop-samples-after" || *name == "drop-hours-before" ||
        *name == "drop-hours-after") {
        const auto limit = n == 3 ? date(v[2]) : std::nullopt;
        if (!limit) return std::nullopt;
        if (*name == "drop-samples-after") return DropSamplesAfter{std::move(*key), *limit};
        if (*name == "drop-hours-before") return DropHoursBefore{std::move(*key), *limit};
        return DropHoursAfter{std::move(*key), *limit};
    }
    if (n != 2) return std::nullopt;
    if (*name == "drop-series") return RemoveSeries{std::move(*key)};
    if (*name == "drop-last") return DropLastSample{std::move(*key)};
    if (*name == "thin") return ThinSamples{std::move(*key)};
    if (*name == "drop-rhythm") return RemoveRhythm{std::move(*key)};
    return std::nullopt;
}

// Takes the events of one change line, an array of arrays of plain values, from either
// PlainJsonScanner or nlohmann::json::sax_parse (whose method names these are).
class LineReader {
  public:
    bool null() { return scalar(Value{}); }
    bool boolean(bool value) {
        Value v{Value::Type::boolean};
        v.boolean = value;
        return scalar(std::move(v));
    }
    bool number_integer(std::int64_t value) {
        Value v{Value::Type::integer};
        v.integer = value;
        return scalar(std::move(v));
    }
    bool number_unsigned(std::uint64_t value) {
        Value v{Value::Type::unsignedInteger};
        v.unsignedInteger = value;
        return scalar(std::move(v));
    }
    bool number_float(double value, const std::string&) { return floating(value); }
    bool floating(double value) {
        Value v{Value::Type::floating};
        v.floating = value;
        return scalar(std::move(v));
    }
    // The general parser's string lives only for the call.
    bool string(std::string& value) { return text(copies_.emplace_back(std::move(value))); }
    bool text(std::string_view value) {
        Value v{Value::Type::string};
        v.text = value;
        return scalar(std::move(v));
    }
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) { return false; }
    bool end_object() { return false; }
    bool key(std::string&) { return false; }
    bool key(std::string_view) { return false; }
    bool start_array(std::size_t) {
        if (depth_ == 2 || done_) return false;
        if (++depth_ == 2) values_.clear();
        return true;
    }
    bool end_array() {
        if (depth_ == 2) {
            auto change = decodeChange(values_);
            if (!change) return false;
            changes.push_back(std::move(*change));
        }
        if (--depth_ == 0) done_ = true;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    bool finished() const { return done_; }

    std::vector<ArchiveChange> changes;

  private:
    bool scalar(Value value) {
        if (depth_ != 2) return false;
        values_.push_back(std::move(value));
        return true;
    }

    int depth_ = 0;
    bool done_ = false;
    std::vector<Value> values_;
    std::deque<std::string> copies_;
};

// Applies changes as applyChange does, but keeps the samples a line drops from the front of a
// series (one or two on nearly every refresh) as a count until something needs that series as
// it is: erasing them one refresh at a time would move a long series about once per line.
class Replayer {
  public:
    explicit Replayer(UsageArchive& archive) : archive_(archive) {}
    ~Replayer() {
        while (!dropped_.empty()) settle(dropped_.begin()->first);
    }

    bool apply(const ArchiveChange& change) {
        using namespace history::change;
        if (const auto* c = std::get_if<DropFirstSamples>(&change)) {
            const auto series = archive_.series.find(c->key);
            if (series == archive_.series.end()) return false;
            std::size_t& count = dropped_[c->key];
            if (c->count > series->second.samples.size() - count) return false;
            count += c->count;
            return true;
        }
        if (const auto* c = std::get_if<DropLastSample>(&change)) {
            const auto series = archive_.series.find(c->key);
            if (series == archive_.series.end()) return false;
            const auto found = dropped_.find(c->key);
            const std::size_t count = found == dropped_.end() ? 0 : found->second;
            if (series->second.samples.size() <= count) return false;
            series->second.samples.pop_back();
            return true;
        }
        // The changes that need the samples as they are.
        if (const auto* c = std::get_if<ThinSamples>(&change)) settle(c->key);
        if (const auto* c = std::get_if<DropSamplesAfter>(&change)) settle(c->key);
        if (const auto* c = std::get_if<NewSeries>(&change)) settle(c->key);
        if (const auto* c = std::get_if<RemoveSeries>(&change)) settle(c->key);
        return applyChange(archive_, change);
    }

  private:
    void settle(const std::string& key) {
        const auto found = dropped_.find(key);
        if (found == dropped_.end()) return;
        // Every change that could remove the series settles it first.
        auto& samples = archive_.series.find(key)->second.samples;
        samples.erase(samples.begin(),
                      samples.begin() + static_cast<std::ptrdiff_t>(found->second));
        dropped_.erase(found);
    }

    UsageArchive& archive_;
    std::map<std::string, std::size_t, std::less<>> dropped_;
};

std::optional<std::vector<ArchiveChange>> decodeLine(std::string_view json) {
    {
        LineReader reader;
        if (PlainJsonScanner(json, reader).run() && reader.finished()) {
            return std::move(reader.changes);
        }
    }
    LineReader reader;
    if (!Json::sax_parse(json, &reader) || !reader.finished()) return std::nullopt;
    return std::move(reader.changes);
}

}  // namespace

std::uint64_t contentHash(std::string_view bytes) {
    constexpr std::uint64_t k0 = 0xa0761d6478bd642fULL;
    constexpr std::uint64_t k1 = 0xe7037ed1a0b428dbULL;
    constexpr std::uint64_t k2 = 0x8ebc6af09c88c6e3ULL;
    const char* p = bytes.data();
    const std::size_t size = bytes.size();
    std::uint64_t h = k0 ^ size;
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        // The rotated term keeps what came before even when a product happens to be zero.
        h = mix(load64(p + i) ^ k1, load64(p + i + 8) ^ k2 ^ h) ^ (h << 29 | h >> 35);
    }
    char tail[16] = {};
    std::memcpy(tail, p + i, size - i);
    h = mix(load64(tail) ^ k1, load64(tail + 8) ^ k2 ^ h) ^ (h << 29 | h >> 35);
    return mix(h ^ k2, static_cast<std::uint64_t>(size) ^ k1);
}

std::string headerLine(std::uint64_t archiveHash) {
    std::string out;
    appendLine(out, "[\"" + std::string(kMagic) + "\"," + std::to_string(currentVersion) + ",\"" +
                        hex(archiveHash) + "\"]");
    return out;
}

void appendChangesLine(std::string& out, const std::vector<ArchiveChange>& changes) {
    std::string json;
    json.reserve(64 + changes.size() * 64);
    LineWriter w(json);
    w.raw("[");
    bool first = true;
    for (const ArchiveChange& change : changes) {
        if (!first) w.raw(",");
        first = false;
        writeChange(w, change);
    }
    w.raw("]");
    appendLine(out, json);
}

Replay replay(std::string_view text, std::uint64_t archiveHash, UsageArchive& archive) {
    Replay result;
    Replayer replayer(archive);
    std::size_t position = 0;
    bool header = true;
    while (position < text.size()) {
        const std::size_t end = text.find('\n', position);
        // What follows the line decides between a line cut short and damage.
        const bool last = end == std::string_view::npos || end + 1 == text.size();
        const auto broken = [&] {
            result.outcome =
                last ? (header ? Replay::Outcome::otherArchive : Replay::Outcome::applied)
                     : Replay::Outcome::damaged;
            return result;
        };
        if (end == std::string_view::npos) return broken();
        const std::string_view line = text.substr(position, end - position);
        const auto sum = parseHex(line.substr(0, kHashDigits));
        if (line.size() < kHashDigits + 1 || line[kHashDigits] != ' ' || !sum) return broken();
        const std::string_view json = line.substr(kHashDigits + 1);
        if (contentHash(json) != *sum) return broken();

        if (header) {
            // Written whole by this format only: anything else, a later version included,
            // is not ours to replace.
            const std::string prefix =
                "[\"" + std::string(kMagic) + "\"," + std::to_string(currentVersion) + ",\"";
            const auto named = json.size() == prefix.size() + kHashDigits + 2 &&
                                       json.starts_with(prefix) && json.ends_with("\"]")
                                   ? parseHex(json.substr(prefix.size(), kHashDigits))
                                   : std::nullopt;
            if (!named) {
                result.outcome = Replay::Outcome::damaged;
                return result;
            }
            if (*named != archiveHash) {
                result.outcome = Replay::Outcome::otherArchive;
                return result;
            }
            header = false;
        } else {
            // A complete line that does not read or does not fit: written by something else.
            const auto changes = decodeLine(json);
            if (!changes) {
                result.outcome = Replay::Outcome::damaged;
                return result;
            }
            for (const ArchiveChange& change : *changes) {
                if (!replayer.apply(change)) {
                    result.outcome = Replay::Outcome::damaged;
                    return result;
                }
            }
            ++result.linesApplied;
        }
        position = end + 1;
        result.validBytes = position;
    }
    result.outcome = header ? Replay::Outcome::otherArchive : Replay::Outcome::applied;
    return result;
}

}  // namespace kestrane::history::journal
