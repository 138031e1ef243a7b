#include "history/UsageArchive.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

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

// Required members: absent or null invalidates the file. Numbers must be finite.
template <typename T>
T required(std::optional<T> value) {
    if (!value) throw platform::DecodingError();
    return *value;
}

double finite(double value) {
    if (!std::isfinite(value)) throw platform::DecodingError();
    return value;
}

double requiredNumber(const Json& object, std::string_view key) {
    return finite(required(platform::numberMember(object, key)));
}

platform::Date requiredDate(const Json& object, std::string_view key) {
    return platform::Date::fromSecondsSinceReferenceDate(requiredNumber(object, key));
}

std::optional<platform::Date> optionalDate(const Json& object, std::string_view key) {
    const auto seconds = platform::numberMember(object, key);
    if (!seconds) return std::nullopt;
    return platform::Date::fromSecondsSinceReferenceDate(finite(*seconds));
}

const Json& requiredArray(const Json& object, std::string_view key) {
    const Json* value = platform::arrayMember(object, key);
    if (!value) throw platform::DecodingError();
    return *value;
}

UsageTransition readTransition(const Json& object) {
    platform::requireObject(object);
    const auto kind = transitionKindFromRawValue(required(platform::stringMember(object, "kind")));
    return UsageTransition{requiredDate(object, "date"), required(kind),
                           required(platform::boolMember(object, "isEstimated"))};
}

UsageSeries readSeries(const Json& object) {
    platform::requireObject(object);
    UsageSeries series;
    const auto provider =
        model::providerKindFromRawValue(required(platform::stringMember(object, "provider")));
    series.provider = required(provider);
    series.windowID = required(platform::stringMember(object, "windowID"));
    series.accountDigest = required(platform::stringMember(object, "accountDigest"));
    series.durationMinutes = platform::integerMember(object, "durationMinutes");
    series.resetsAt = optionalDate(object, "resetsAt");
    const Json& samples = requiredArray(object, "samples");
    series.samples.reserve(samples.size());
    for (const Json& item : samples) {
        platform::requireObject(item);
        UsageSample sample;
        sample.date = requiredDate(item, "date");
        sample.usedPercent = requiredNumber(item, "usedPercent");
        sample.startsSegment = required(platform::boolMember(item, "startsSegment"));
        if (const Json* transition = platform::objectMember(item, "transition")) {
            sample.transition = readTransition(*transition);
        }
        series.samples.push_back(sample);
    }
    return series;
}

RhythmHistory readRhythm(const Json& object) {
    platform::requireObject(object);
    RhythmHistory rhythm;
    rhythm.accountDigest = required(platform::stringMember(object, "accountDigest"));
    rhythm.durationMinutes = platform::integerMember(object, "durationMinutes");
    rhythm.timeZoneIdentifier = required(platform::stringMember(object, "timeZoneIdentifier"));
    const Json& hours = requiredArray(object, "hours");
    rhythm.hours.reserve(hours.size());
    for (const Json& item : hours) {
        platform::requireObject(item);
        rhythm.hours.push_back(RhythmHour{requiredDate(item, "start"),
                                          requiredNumber(item, "usedPercent"),
                                          requiredNumber(item, "observedSeconds")});
    }
    return rhythm;
}

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
    const Json document = platform::parseJson(text);
    platform::requireObject(document);
    UsageArchive archive;
    archive.version = required(platform::integerMember(document, "version"));
    if (archive.version != UsageArchive::currentVersion) throw platform::DecodingError();
    const Json* series = platform::objectMember(document, "series");
    if (!series) throw platform::DecodingError();
    for (const auto& [key, value] : series->items()) archive.series.emplace(key, readSeries(value));
    if (const Json* rhythms = platform::objectMember(document, "rhythms")) {
        for (const auto& [key, value] : rhythms->items()) {
            archive.rhythms.emplace(key, readRhythm(value));
        }
    }
    return archive;
}

}  // namespace kestrane::history
