// The archive decoder reads the JSON events straight into the records. These tests hold it to
// the verdicts and results of the plain way of reading the format: parse the whole document
// into a tree, then pick the members (kept below as `treeReading`, the decoder this one
// replaced). Files of other writers must keep loading exactly as before.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "history/UsageArchive.h"
#include "platform/Json.h"

namespace kestrane::history {
namespace {

using platform::Json;

template <typename T>
T required(std::optional<T> value) {
    if (!value) throw platform::DecodingError();
    return *value;
}

double finite(double value) {
    if (!std::isfinite(value)) throw platform::DecodingError();
    return value;
}

platform::Date requiredDate(const Json& object, std::string_view key) {
    return platform::Date::fromSecondsSinceReferenceDate(
        finite(required(platform::numberMember(object, key))));
}

const Json& requiredArray(const Json& object, std::string_view key) {
    const Json* value = platform::arrayMember(object, key);
    if (!value) throw platform::DecodingError();
    return *value;
}

// platform::integerMember as documented. The platform version currently lets an unsigned value
// of 2^63 or more through as a negative number (nlohmann's is_number_integer() is also true for
// unsigned values, so its range check is never reached); the decoder does not copy that.
std::optional<std::int64_t> integerMember(const Json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it != object.end() && it->is_number_unsigned() &&
        it->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        throw platform::DecodingError();
    }
    return platform::integerMember(object, key);
}

UsageSeries treeSeries(const Json& object) {
    platform::requireObject(object);
    UsageSeries series;
    series.provider = required(
        model::providerKindFromRawValue(required(platform::stringMember(object, "provider"))));
    series.windowID = required(platform::stringMember(object, "windowID"));
    series.accountDigest = required(platform::stringMember(object, "accountDigest"));
    series.durationMinutes = integerMember(object, "durationMinutes");
    if (const auto seconds = platform::numberMember(object, "resetsAt")) {
        series.resetsAt = platform::Date::fromSecondsSinceReferenceDate(finite(*seconds));
    }
    for (const Json& item : requiredArray(object, "samples")) {
        platform::requireObject(item);
        UsageSample sample;
        sample.date = requiredDate(item, "date");
        sample.usedPercent = finite(required(platform::numberMember(item, "usedPercent")));
        sample.startsSegment = required(platform::boolMember(item, "startsSegment"));
        if (const Json* transition = platform::objectMember(item, "transition")) {
            sample.transition =
                UsageTransition{requiredDate(*transition, "date"),
                                required(transitionKindFromRawValue(
                                    required(platform::stringMember(*transition, "kind")))),
                                required(platform::boolMember(*transition, "isEstimated"))};
        }
        series.samples.push_back(sample);
    }
    return series;
}

RhythmHistory treeRhythm(const Json& object) {
    platform::requireObject(object);
    RhythmHistory rhythm;
    rhythm.accountDigest = required(platform::stringMember(object, "accountDigest"));
    rhythm.durationMinutes = integerMember(object, "durationMinutes");
    rhythm.timeZoneIdentifier = required(platform::stringMember(object, "timeZoneIdentifier"));
    for (const Json& item : requiredArray(object, "hours")) {
        platform::requireObject(item);
        rhythm.hours.push_back(
            RhythmHour{requiredDate(item, "start"),
                       finite(required(platform::numberMember(item, "usedPercent"))),
                       finite(required(platform::numberMember(item, "observedSeconds")))});
    }
    return rhythm;
}

std::optional<UsageArchive> treeReading(std::string_view text) {
    try {
        const Json document = platform::parseJson(text);
        platform::requireObject(document);
        UsageArchive archive;
        archive.version = required(integerMember(document, "version"));
        if (archive.version != UsageArchive::currentVersion) return std::nullopt;
        const Json* series = platform::objectMember(document, "series");
        if (!series) return std::nullopt;
        for (const auto& [key, value] : series->items()) {
            archive.series.emplace(key, treeSeries(value));
        }
        if (const Json* rhythms = platform::objectMember(document, "rhythms")) {
            for (const auto& [key, value] : rhythms->items()) {
                archive.rhythms.emplace(key, treeRhythm(value));
            }
        }
        return archive;
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

std::optional<UsageArchive> decoded(std::string_view text) {
    try {
        return decodeArchive(text);
    } catch (const platform::DecodingError&) {
        return std::nullopt;
    }
}

// Plain documents take the decoder's quick path; a byte order mark in front (which both
// readers skip) sends the same document through the general parser's events instead.
const std::string kByteOrderMark = "\xEF\xBB\xBF";

void expectSameAsTree(const std::string& text) {
    const auto expected = treeReading(text);
    EXPECT_EQ(decoded(text), expected) << "quick path";
    EXPECT_EQ(decoded(kByteOrderMark + text), expected) << "general parser";
}

// Building blocks with every required member present.
const std::string kSample = R"({"date":1,"usedPercent":2.5,"startsSegment":true})";
const std::string kTransition = R"({"date":1,"kind":"reset","isEstimated":true})";
const std::string kHour = R"({"start":1,"usedPercent":1,"observedSeconds":60})";

std::string sampleWith(const std::string& members) {
    return R"({"date":1,"usedPercent":2.5,"startsSegment":true)" + members + "}";
}
std::string seriesWith(const std::string& members, const std::string& samples = kSample) {
    return R"({"provider":"Claude","windowID":"w","accountDigest":"d")" + members +
           R"(,"samples":[)" + samples + "]}";
}
std::string rhythmWith(const std::string& members, const std::string& hours = kHour) {
    return R"({"accountDigest":"d","timeZoneIdentifier":"UTC")" + members + R"(,"hours":[)" +
           hours + "]}";
}
// A document around one series entry (and optionally one rhythm entry and more root members).
std::string archiveWith(const std::string& series, const std::string& rhythm = "",
                        const std::string& rootMembers = "") {
    std::string text = R"({"version":1,"series":{"Claude|w":)" + series + "}";
    if (!rhythm.empty()) text += R"(,"rhythms":{"Claude|w":)" + rhythm + "}";
    return text + rootMembers + "}";
}
std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// Every kind of JSON value, for members nobody reads.
const std::string kAnything =
    R"({"a":[1,-2.5e3,"x",true,false,null,{"b":{}},[]],"version":7,"date":"no"})";

TEST(UsageArchiveDecodingTest, VerdictsMatchReadingTheWholeTree) {
    struct Case {
        const char* name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        // Accepted.
        {"minimal", R"({"version":1,"series":{}})", true},
        {"every member",
         archiveWith(seriesWith(R"(,"durationMinutes":300,"resetsAt":5.5)",
                                sampleWith(R"(,"transition":)" + kTransition)),
                     rhythmWith(R"(,"durationMinutes":300)")),
         true},
        {"unknown members at every level",
         archiveWith(
             seriesWith(R"(,"x":)" + kAnything,
                        sampleWith(R"(,"x":)" + kAnything + R"(,"transition":{"x":)" + kAnything +
                                   R"(,"date":1,"kind":"correction",)"
                                   R"("isEstimated":false})")),
             rhythmWith(
                 R"(,"x":)" + kAnything,
                 R"({"x":)" + kAnything + R"(,"start":1,"usedPercent":1,"observedSeconds":1})"),
             R"(,"x":)" + kAnything),
         true},
        {"nulls for optional members",
         archiveWith(seriesWith(R"(,"durationMinutes":null,"resetsAt":null)",
                                sampleWith(R"(,"transition":null)")),
                     rhythmWith(R"(,"durationMinutes":null)")),
         true},
        {"null rhythms", R"({"version":1,"series":{},"rhythms":null})", true},
        {"version as a whole float", R"({"version":1.0,"series":{}})", true},
        {"version with an exponent", R"({"version":1e0,"series":{}})", true},
        {"whole float minutes", archiveWith(seriesWith(R"(,"durationMinutes":3e2)")), true},
        // The int64 range ends just below 2^63; these are the whole doubles at its two ends.
        {"minutes as the largest float below 2^63",
         archiveWith(seriesWith(R"(,"durationMinutes":9223372036854774784.0)")), true},
        {"minutes as the float -2^63",
         archiveWith(seriesWith(R"(,"durationMinutes":-9223372036854775808.0)")), true},
        {"integers for every number",
         archiveWith(seriesWith(R"(,"resetsAt":-7)", R"({"date":0,"usedPercent":-0,)"
                                                     R"("startsSegment":false})")),
         true},
        {"pretty printed",
         "\t{ \"version\" : 1 ,\r\n \"series\" : { \"Claude|w\" : " + seriesWith("") + " } }\n\n",
         true},
        {"escaped and non-ASCII text",
         R"({"version":1,"series":{"Claude|\u043a\"\\":)"
         R"({"provider":"Cl\u0061ude","windowID":"окно","accountDigest":"d\n","samples":[]}}})",
         true},
        {"escaped member names",
         R"({"v\u0065rsion":1,"series":{"Claude|w":{"provider":"Claude","windowID":"w",)"
         R"("accountDigest":"d","s\u0061mples":[]}}})",
         true},
        {"brackets inside strings do not nest",
         archiveWith(seriesWith(R"(,"x":")" + std::string(200, '[') + "\"")), true},
        {"nesting 128 deep", R"({"version":1,"series":{},"x":)" + nested(127) + "}", true},
        // Repeated keys: the last value counts, an earlier wrong one does not.
        {"repeated version, last valid", R"({"version":2,"version":1,"series":{}})", true},
        {"repeated version, last invalid", R"({"version":1,"version":2,"series":{}})", false},
        {"repeated version, last null", R"({"version":1,"version":null,"series":{}})", false},
        {"repeated series map", R"({"version":1,"series":{"Claude|w":5},"series":{}})", true},
        {"repeated series map, last null", R"({"version":1,"series":{},"series":null})", false},
        {"repeated series entry, last valid",
         R"({"version":1,"series":{"Claude|w":null,"Claude|w":)" + seriesWith("") + "}}", true},
        {"repeated series entry, last invalid",
         R"({"version":1,"series":{"Claude|w":)" + seriesWith("") + R"(,"Claude|w":[]}})", false},
        {"repeated rhythm entry, last valid",
         R"({"version":1,"series":{},"rhythms":{"K":{},"K":)" + rhythmWith("") + "}}", true},
        {"repeated rhythms, last wrong",
         R"({"version":1,"series":{},"rhythms":{},"rhythms":"none"})", false},
        {"repeated provider", archiveWith(seriesWith(R"(,"provider":"Gemini","provider":"Kimi")")),
         true},
        {"repeated minutes, last null",
         archiveWith(seriesWith(R"(,"durationMinutes":1.5,"durationMinutes":null)")), true},
        {"repeated minutes, last valid",
         archiveWith(seriesWith(R"(,"durationMinutes":"x","durationMinutes":5)")), true},
        {"repeated samples, last valid",
         R"({"version":1,"series":{"Claude|w":{"provider":"Claude","windowID":"w",)"
         R"("accountDigest":"d","samples":[null],"samples":[)" +
             kSample + "]}}}",
         true},
        {"repeated samples, last null",
         R"({"version":1,"series":{"Claude|w":{"provider":"Claude","windowID":"w",)"
         R"("accountDigest":"d","samples":[],"samples":null}}})",
         false},
        {"repeated sample date, last null",
         archiveWith(seriesWith("", sampleWith(R"(,"date":null)"))), false},
        {"repeated sample date, last valid",
         archiveWith(
             seriesWith("", R"({"date":"x","usedPercent":1,"startsSegment":true,"date":2})")),
         true},
        {"repeated transition, last null",
         archiveWith(
             seriesWith("", sampleWith(R"(,"transition":{"kind":"jump"},"transition":null)"))),
         true},
        {"repeated transition, last invalid",
         archiveWith(seriesWith(
             "", sampleWith(R"(,"transition":)" + kTransition + R"(,"transition":{"date":1})"))),
         false},
        {"repeated transition kind",
         archiveWith(seriesWith(
             "",
             sampleWith(
                 R"(,"transition":{"kind":"jump","date":1,"isEstimated":true,"kind":"reset"})"))),
         true},
        {"repeated hour member",
         archiveWith(seriesWith(""),
                     rhythmWith("", R"({"start":1,"usedPercent":[],"observedSeconds":1,)"
                                    R"("usedPercent":2})")),
         true},
        // Rejected: the document.
        {"empty", "", false},
        {"array", "[]", false},
        {"number", "1", false},
        {"null", "null", false},
        {"string", R"("version")", false},
        {"truncated", archiveWith(seriesWith("")).substr(0, 60), false},
        {"trailing text", R"({"version":1,"series":{}} x)", false},
        {"two documents", R"({"version":1,"series":{}}{})", false},
        {"trailing comma", R"({"version":1,"series":{},})", false},
        {"comment", R"({"version":1,/* one */"series":{}})", false},
        {"single quotes", R"({'version':1,"series":{}})", false},
        {"NaN", archiveWith(seriesWith(R"(,"resetsAt":NaN)")), false},
        {"number overflow", archiveWith(seriesWith(R"(,"x":1e400)")), false},
        {"leading zero", R"({"version":01,"series":{}})", false},
        {"bad escape", archiveWith(seriesWith(R"(,"x":"\q")")), false},
        {"lone surrogate", archiveWith(seriesWith(R"(,"x":"\ud800")")), false},
        {"control character in a string", archiveWith(seriesWith(",\"x\":\"a\tb\"")), false},
        {"invalid UTF-8 in an unknown member", archiveWith(seriesWith(",\"x\":\"\xC3\x28\"")),
         false},
        {"nesting 129 deep", R"({"version":1,"series":{},"x":)" + nested(128) + "}", false},
        {"very deep nesting", R"({"version":1,"series":{},"x":)" + nested(100'000) + "}", false},
        // Rejected: the root members.
        {"no version", R"({"series":{}})", false},
        {"version 2", R"({"version":2,"series":{}})", false},
        {"version as text", R"({"version":"1","series":{}})", false},
        {"version 1.5", R"({"version":1.5,"series":{}})", false},
        {"version true", R"({"version":true,"series":{}})", false},
        {"no series", R"({"version":1})", false},
        {"series as an array", R"({"version":1,"series":[]})", false},
        {"rhythms as an array", R"({"version":1,"series":{},"rhythms":[]})", false},
        {"rhythms as a number", R"({"version":1,"series":{},"rhythms":5})", false},
        // Rejected: wrongly typed or missing members further down.
        {"null series entry", R"({"version":1,"series":{"Claude|w":null}})", false},
        {"null rhythm entry", R"({"version":1,"series":{},"rhythms":{"Claude|w":null}})", false},
        {"unknown provider", archiveWith(seriesWith(R"(,"provider":"Gemini")")), false},
        {"provider in lower case", archiveWith(seriesWith(R"(,"provider":"claude")")), false},
        {"provider as a number", archiveWith(seriesWith(R"(,"provider":5)")), false},
        {"window as an object", archiveWith(seriesWith(R"(,"windowID":{})")), false},
        {"null digest", archiveWith(seriesWith(R"(,"accountDigest":null)")), false},
        {"minutes as text", archiveWith(seriesWith(R"(,"durationMinutes":"300")")), false},
        {"fractional minutes", archiveWith(seriesWith(R"(,"durationMinutes":1.5)")), false},
        {"minutes past 64 bits",
         archiveWith(seriesWith(R"(,"durationMinutes":9223372036854775808)")), false},
        {"minutes as a huge float", archiveWith(seriesWith(R"(,"durationMinutes":1e19)")), false},
        {"minutes as the float 2^63",
         archiveWith(seriesWith(R"(,"durationMinutes":9223372036854775808.0)")), false},
        {"minutes as a float below -2^63",
         archiveWith(seriesWith(R"(,"durationMinutes":-9223372036854777856.0)")), false},
        {"reset as text", archiveWith(seriesWith(R"(,"resetsAt":"soon")")), false},
        {"reset as a boolean", archiveWith(seriesWith(R"(,"resetsAt":true)")), false},
        {"samples as an object",
         R"({"version":1,"series":{"Claude|w":{"provider":"Claude","windowID":"w",)"
         R"("accountDigest":"d","samples":{}}}})",
         false},
        {"null sample", archiveWith(seriesWith("", "null")), false},
        {"sample as a number", archiveWith(seriesWith("", kSample + ",1")), false},
        {"sample as an array", archiveWith(seriesWith("", "[" + kSample + "]")), false},
        {"sample without a date",
         archiveWith(seriesWith("", R"({"usedPercent":1,"startsSegment":true})")), false},
        {"date as text", archiveWith(seriesWith("", sampleWith(R"(,"date":"1")"))), false},
        {"used share as a boolean",
         archiveWith(seriesWith("", sampleWith(R"(,"usedPercent":true)"))), false},
        {"segment flag as a number",
         archiveWith(seriesWith("", sampleWith(R"(,"startsSegment":1)"))), false},
        {"transition as an array", archiveWith(seriesWith("", sampleWith(R"(,"transition":[])"))),
         false},
        {"transition as text", archiveWith(seriesWith("", sampleWith(R"(,"transition":"reset")"))),
         false},
        {"unknown transition kind",
         archiveWith(seriesWith(
             "", sampleWith(R"(,"transition":{"date":1,"kind":"jump","isEstimated":true})"))),
         false},
        {"transition kind as a number",
         archiveWith(
             seriesWith("", sampleWith(R"(,"transition":{"date":1,"kind":0,"isEstimated":true})"))),
         false},
        {"estimated flag as text",
         archiveWith(seriesWith(
             "", sampleWith(R"(,"transition":{"date":1,"kind":"reset","isEstimated":"true"})"))),
         false},
        {"time zone as a number",
         archiveWith(seriesWith(""), rhythmWith(R"(,"timeZoneIdentifier":3)")), false},
        {"hours as an object",
         R"({"version":1,"series":{},"rhythms":{"Claude|w":{"accountDigest":"d",)"
         R"("timeZoneIdentifier":"UTC","hours":{}}}})",
         false},
        {"null hour", archiveWith(seriesWith(""), rhythmWith("", "null")), false},
        {"hour start as text",
         archiveWith(seriesWith(""),
                     rhythmWith("", R"({"start":"1","usedPercent":1,"observedSeconds":1})")),
         false},
        {"hour without observed seconds",
         archiveWith(seriesWith(""),
                     rhythmWith("", R"({"start":1,"usedPercent":1,"observedSeconds":null})")),
         false},
        {"a wrong member deep inside an unknown one is not read",
         archiveWith(seriesWith(R"(,"x":{"samples":5,"provider":[]})")), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(treeReading(c.text).has_value(), c.valid) << "the table is wrong";
        expectSameAsTree(c.text);
    }
}

TEST(UsageArchiveDecodingTest, RepeatedKeysKeepTheLastValue) {
    const auto archive = decodeArchive(
        R"({"version":1,"series":{"Claude|w":)" +
        seriesWith(R"(,"durationMinutes":5,"durationMinutes":7,"resetsAt":9,"resetsAt":null)",
                   R"({"date":1,"usedPercent":1,"startsSegment":true,"date":2,)"
                   R"("transition":)" +
                       kTransition + R"(,"transition":null})") +
        R"(,"Claude|w":)" +
        seriesWith(R"(,"durationMinutes":5,"durationMinutes":7,"resetsAt":9,"resetsAt":null)",
                   R"({"date":1,"usedPercent":1,"startsSegment":true,"date":2,)"
                   R"("transition":)" +
                       kTransition + R"(,"transition":null})") +
        "}}");
    const auto& series = archive.series.at("Claude|w");
    EXPECT_EQ(series.durationMinutes, 7);
    EXPECT_EQ(series.resetsAt, std::nullopt);
    ASSERT_EQ(series.samples.size(), 1u);
    EXPECT_EQ(series.samples[0], (UsageSample{platform::Date::fromSecondsSinceReferenceDate(2), 1,
                                              true, std::nullopt}));
}

TEST(UsageArchiveDecodingTest, NumbersReadAsTheGeneralParserReadsThem) {
    const char* numbers[] = {
        "0",
        "-0",
        "0.0",
        "-0.0",
        "1E5",
        "1e+5",
        "2.5e-3",
        "1e-05",
        "123456789012345678",
        "-123456789012345678",
        "1234567890123456789",
        "-9223372036854775808",
        "9223372036854775807",
        "9223372036854775808",
        "18446744073709551615",
        "18446744073709551616",
        "123456789012345678901234567890",
        "0.1000000000000000055511151231257827",
        "9007199254740993",
        "4.9406564584124654e-324",
        "2.2250738585072011e-308",
        "1e-400",
        "1.7976931348623157e308",
        "1.7976931348623159e308",
        "00",
        "1.",
        ".5",
        "+1",
        "-",
        "1e",
        "1e+",
        "0x10",
        "--1",
        "1.5.5",
        "Infinity",
    };
    for (const char* number : numbers) {
        SCOPED_TRACE(number);
        const std::string text(number);
        expectSameAsTree(archiveWith(seriesWith(",\"resetsAt\":" + text)));
        expectSameAsTree(archiveWith(seriesWith(",\"durationMinutes\":" + text)));
        expectSameAsTree(R"({"version":1,"series":{},"x":)" + text + "}");
    }

    // Decimal texts of all lengths and magnitudes, as other writers may print them, round like
    // strtod's: a couple of thousand in one document.
    std::mt19937_64 random(20250310);
    std::string hours;
    for (int i = 0; i < 3000; ++i) {
        std::string mantissa = std::to_string(random() % 9 + 1);
        const auto digits = random() % 25;
        for (std::uint64_t d = 0; d < digits; ++d)
            mantissa += static_cast<char>('0' + random() % 10);
        if (mantissa.size() > 1 && random() % 2) mantissa.insert(1, ".");
        // Normal doubles only, so that the whole document stays on the quick path.
        const int exponent = static_cast<int>(random() % 580) - 300;
        if (!hours.empty()) hours += ",";
        hours += R"({"start":)" + std::to_string(i) + R"(,"usedPercent":)" + mantissa + "e" +
                 std::to_string(exponent) + R"(,"observedSeconds":-)" + mantissa + "}";
    }
    const std::string text = archiveWith(seriesWith(""), rhythmWith("", hours));
    const auto expected = treeReading(text);
    ASSERT_TRUE(expected);
    EXPECT_EQ(decoded(text), expected);
}

// Every truncation, deletion and a set of replacements of each byte of a small archive that
// uses every kind of token: the decoder must agree with the tree reading on each result.
TEST(UsageArchiveDecodingTest, DamagedDocumentsGetTheSameVerdict) {
    const std::string base =
        "{\"version\":1, \"series\":{\"Claude|w\":" +
        seriesWith(R"(,"durationMinutes":300,"resetsAt":-1.5e2)",
                   sampleWith(R"(,"transition":)" + kTransition) + "," +
                       R"({"date":20,"usedPercent":0,"startsSegment":false,"transition":null})") +
        "},\n\"rhythms\":{\"Kimi|k\":" + rhythmWith(R"(,"durationMinutes":null,"x":[true,{}])") +
        "}}";
    ASSERT_TRUE(treeReading(base));
    std::vector<std::string> variants;
    for (std::size_t i = 0; i <= base.size(); ++i) {
        variants.push_back(base.substr(0, i));
        if (i == base.size()) break;
        variants.push_back(std::string(base).erase(i, 1));
        for (const char replacement : std::string("\"{}[],:0-.e nt\\\x01\x80")) {
            if (replacement == base[i]) continue;
            std::string damaged = base;
            damaged[i] = replacement;
            variants.push_back(damaged);
        }
    }
    int accepted = 0;
    for (const auto& text : variants) {
        const auto expected = treeReading(text);
        if (expected) ++accepted;
        if (decoded(text) != expected) ADD_FAILURE() << "different verdict or result for " << text;
    }
    // Some damage leaves a valid archive (a changed number, a dropped space); make sure the
    // sweep covers both verdicts.
    EXPECT_GT(accepted, 10);
    EXPECT_LT(accepted, static_cast<int>(variants.size()) / 2);
}

}  // namespace
}  // namespace kestrane::history
