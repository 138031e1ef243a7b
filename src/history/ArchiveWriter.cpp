#include "history/ArchiveWriter.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "platform/Json.h"

namespace kestrane::history {

using platform::Json;

std::string ArchiveWriter::write(const UsageArchive& archive) {
    std::string out;
    std::size_t samples = 0;
    for (const auto& [key, series] : archive.series) samples += series.samples.size();
    out.reserve(256 + samples * 80);
    ArchiveWriter w(out);
    w.raw("{\"version\":");
    w.integer(archive.version);
    w.raw(",\"series\":{");
    bool first = true;
    for (const auto& [key, series] : archive.series) {
        if (!first) w.raw(",");
        first = false;
        w.key(key);
        w.series(series);
    }
    w.raw("},\"rhythms\":{");
    first = true;
    for (const auto& [key, rhythm] : archive.rhythms) {
        if (!first) w.raw(",");
        first = false;
        w.key(key);
        w.rhythm(rhythm);
    }
    w.raw("}");
    // Left out while empty, so such an archive reads the same as before the member existed.
    if (!archive.lastKnownAccounts.empty()) {
        w.raw(",\"lastKnownAccounts\":{");
        first = true;
        for (const auto& [provider, digest] : archive.lastKnownAccounts) {
            if (!first) w.raw(",");
            first = false;
            w.key(model::rawValue(provider));
            w.string(digest);
        }
        w.raw("}");
    }
    w.raw("}");
    return out;
}

void ArchiveWriter::transition(const UsageTransition& transition) {
    raw("{\"date\":");
    date(transition.date);
    raw(",\"kind\":\"");
    raw(rawValue(transition.kind));
    raw("\",\"isEstimated\":");
    boolean(transition.isEstimated);
    raw("}");
}

void ArchiveWriter::series(const UsageSeries& series) {
    raw("{\"provider\":");
    string(model::rawValue(series.provider));
    raw(",\"windowID\":");
    string(series.windowID);
    raw(",\"accountDigest\":");
    string(series.accountDigest);
    if (series.durationMinutes) {
        raw(",\"durationMinutes\":");
        integer(*series.durationMinutes);
    }
    if (series.resetsAt) {
        raw(",\"resetsAt\":");
        date(*series.resetsAt);
    }
    raw(",\"samples\":[");
    bool first = true;
    for (const auto& sample : series.samples) {
        if (!first) raw(",");
        first = false;
        raw("{\"date\":");
        date(sample.date);
        raw(",\"usedPercent\":");
        number(sample.usedPercent);
        raw(",\"startsSegment\":");
        boolean(sample.startsSegment);
        if (sample.transition) {
            raw(",\"transition\":");
            transition(*sample.transition);
        }
        raw("}");
    }
    raw("]}");
}

void ArchiveWriter::rhythm(const RhythmHistory& rhythm) {
    raw("{\"accountDigest\":");
    string(rhythm.accountDigest);
    if (rhythm.durationMinutes) {
        raw(",\"durationMinutes\":");
        integer(*rhythm.durationMinutes);
    }
    raw(",\"timeZoneIdentifier\":");
    string(rhythm.timeZoneIdentifier);
    raw(",\"hours\":[");
    bool first = true;
    for (const auto& hour : rhythm.hours) {
        if (!first) raw(",");
        first = false;
        raw("{\"start\":");
        date(hour.start);
        raw(",\"usedPercent\":");
        number(hour.usedPercent);
        raw(",\"observedSeconds\":");
        number(hour.observedSeconds);
        raw("}");
    }
    raw("]}");
}

void ArchiveWriter::string(std::string_view text) {
    // Provider window ids come from outside and may hold anything; the library escapes
    // control characters and replaces invalid UTF-8 so the file always parses again.
    out_.append(Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ArchiveWriter::number(double value) {
    if (!std::isfinite(value)) throw std::domain_error("non-finite number in the archive");
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void ArchiveWriter::integer(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

}  // namespace kestrane::history
