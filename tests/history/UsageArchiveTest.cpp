#include "history/UsageArchive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "history/HistoryTestSupport.h"
#include "history/UsageHistoryStore.h"
#include "platform/Files.h"
#include "platform/Json.h"
#include "support/TempDirectory.h"

namespace kestrane::history {
namespace {

using model::ProviderKind;
using platform::Calendar;
using platform::Date;
using test::kNoon;
using test::recordNow;
using test::usage;
using test::window;

std::string fixture(const std::string& name) {
    const auto text =
        platform::readFile(std::filesystem::path(KESTRANE_FIXTURES) / "history" / name, 1 << 20);
    if (!text) throw std::runtime_error("missing fixture " + name);
    return *text;
}

UsageArchive sampleArchive() {
    UsageArchive archive;
    archive.series["Claude|claude-session"] = UsageSeries{
        ProviderKind::claude,
        "claude-session",
        std::string(64, 'a'),
        300,
        kNoon + 3600.125,
        {UsageSample{kNoon - 600.5, 10.25, true, std::nullopt},
         UsageSample{kNoon, 1.0 / 3.0, true,
                     UsageTransition{kNoon - 0.001, UsageTransition::Kind::correction, true}},
         UsageSample{kNoon + 60, 0, false,
                     UsageTransition{kNoon + 30, UsageTransition::Kind::periodChange, false}}}};
    archive.series["Antigravity|antigravity-\"quoted\"\n"] = UsageSeries{ProviderKind::antigravity,
                                                                         "antigravity-\"quoted\"\n",
                                                                         std::string(64, 'b'),
                                                                         std::nullopt,
                                                                         std::nullopt,
                                                                         {}};
    archive.rhythms["Claude|claude-session"] =
        RhythmHistory{std::string(64, 'a'),
                      300,
                      "America/New_York",
                      {RhythmHour{kNoon - 3600, 0.1 + 0.2, 3599.999}, RhythmHour{kNoon, 0, 1}}};
    archive.rhythms["Kimi|kimi-week"] =
        RhythmHistory{std::string(64, 'c'), std::nullopt, "UTC", {}};
    return archive;
}

TEST(UsageArchiveTest, EncodeThenDecodeGivesTheSameArchive) {
    const auto archive = sampleArchive();
    const auto text = encodeArchive(archive);
    EXPECT_EQ(decodeArchive(text), archive);
    EXPECT_EQ(decodeArchive(encodeArchive(UsageArchive{})), UsageArchive{});

    // Dates count from 2001, absent optionals are left out rather than written as null.
    const auto json = platform::parseJson(text);
    const auto& session = json["series"]["Claude|claude-session"];
    EXPECT_DOUBLE_EQ(session["samples"][0]["date"].get<double>(), 763'300'800 - 600.5);
    EXPECT_DOUBLE_EQ(session["resetsAt"].get<double>(), 763'300'800 + 3600.125);
    EXPECT_FALSE(session["samples"][0].contains("transition"));
    const auto& other = json["series"]["Antigravity|antigravity-\"quoted\"\n"];
    EXPECT_FALSE(other.contains("durationMinutes"));
    EXPECT_FALSE(other.contains("resetsAt"));
    EXPECT_FALSE(json["rhythms"]["Kimi|kimi-week"].contains("durationMinutes"));
    EXPECT_EQ(json["version"], 1);
}

// The last known account per provider is an optional member: written only when there is one,
// and read leniently, since it is a hint and never a reason to refuse the history.
TEST(UsageArchiveTest, LastKnownAccountsRoundTripAndOddEntriesAreSkipped) {
    UsageArchive archive = sampleArchive();
    archive.lastKnownAccounts = {{ProviderKind::cursor, std::string(64, 'd')},
                                 {ProviderKind::antigravity, std::string(64, 'e')}};
    const auto text = encodeArchive(archive);
    EXPECT_EQ(decodeArchive(text), archive);
    EXPECT_EQ(platform::parseJson(text)["lastKnownAccounts"]["Cursor"], std::string(64, 'd'));
    EXPECT_EQ(encodeArchive(sampleArchive()).find("lastKnownAccounts"), std::string::npos);

    const auto decoded = decodeArchive(
        R"({"version":1,"series":{},"lastKnownAccounts":{"Cursor":"a","Gemini":"b","Kimi":3,)"
        R"("Codex":"c","Codex":null,"Claude":{"x":1}}})");
    EXPECT_EQ(decoded.lastKnownAccounts,
              (std::map<ProviderKind, std::string>{{ProviderKind::cursor, "a"}}));
    EXPECT_TRUE(decodeArchive(R"({"version":1,"series":{},"lastKnownAccounts":7})")
                    .lastKnownAccounts.empty());
}

// The later providers' raw values hold a space; as keys of series, rhythms and accounts they
// read back as they were written.
TEST(UsageArchiveTest, ProvidersWhoseNamesHoldASpaceRoundTrip) {
    UsageArchive archive;
    archive.series["GitHub Copilot|copilot-premium"] =
        UsageSeries{ProviderKind::copilot, "copilot-premium",
                    std::string(64, 'f'),  43200,
                    kNoon + 86400,         {UsageSample{kNoon, 37.5, true, std::nullopt}}};
    archive.series["Gemini CLI|gemini-pro"] =
        UsageSeries{ProviderKind::gemini, "gemini-pro",
                    std::string(64, 'a'), 1440,
                    std::nullopt,         {UsageSample{kNoon, 60, true, std::nullopt}}};
    archive.rhythms["Gemini CLI|gemini-pro"] =
        RhythmHistory{std::string(64, 'a'), 1440, "UTC", {RhythmHour{kNoon, 1, 3600}}};
    archive.lastKnownAccounts = {{ProviderKind::copilot, std::string(64, 'f')},
                                 {ProviderKind::gemini, std::string(64, 'a')}};
    const auto text = encodeArchive(archive);
    EXPECT_EQ(decodeArchive(text), archive);
    EXPECT_EQ(platform::parseJson(text)["lastKnownAccounts"]["GitHub Copilot"],
              std::string(64, 'f'));
}

TEST(UsageArchiveTest, HandWrittenFileLoads) {
    const auto archive = decodeArchive(fixture("archive_v1.json"));
    ASSERT_EQ(archive.series.size(), 2u);
    const auto& claude = archive.series.at("Claude|claude-session");
    EXPECT_EQ(claude.provider, ProviderKind::claude);
    EXPECT_EQ(claude.durationMinutes, 300);
    EXPECT_EQ(claude.resetsAt, kNoon + 18'000.25);
    ASSERT_EQ(claude.samples.size(), 3u);
    EXPECT_EQ(claude.samples[1], (UsageSample{kNoon - 1199.5, 12.5, false, std::nullopt}));
    EXPECT_EQ(claude.samples[2].transition,
              (UsageTransition{kNoon - 600, UsageTransition::Kind::reset, true}));
    const auto& cursor = archive.series.at("Cursor|cursor-total");
    EXPECT_EQ(cursor.durationMinutes, std::nullopt);
    EXPECT_EQ(cursor.resetsAt, std::nullopt);
    EXPECT_EQ(cursor.samples[0].transition, std::nullopt);
    EXPECT_EQ(archive.rhythms.at("Claude|claude-session").hours.at(0),
              (RhythmHour{kNoon - 3600, 2.5, 600.5}));
}

TEST(UsageArchiveTest, MalformedDocumentsAreRejected) {
    const std::string sample = R"({"date":1,"usedPercent":1,"startsSegment":true})";
    const auto withSeries = [](const std::string& series) {
        return R"({"version":1,"series":{"Claude|w":)" + series + "}}";
    };
    const auto seriesWith = [](const std::string& extra, const std::string& samples) {
        return R"({"provider":"Claude","windowID":"w","accountDigest":"d")" + extra +
               R"(,"samples":[)" + samples + "]}";
    };
    const std::string cases[] = {
        "",
        "[]",
        R"({"version":1})",
        R"({"version":2,"series":{}})",
        R"({"version":"1","series":{}})",
        R"({"version":1.5,"series":{}})",
        R"({"series":{}})",
        R"({"version":1,"series":[]})",
        R"({"version":1,"series":{},"rhythms":[]})",
        withSeries(seriesWith("", sample).substr(0, 40)),
        withSeries(R"({"provider":"Gemini","windowID":"w","accountDigest":"d","samples":[]})"),
        withSeries(R"({"provider":"claude","windowID":"w","accountDigest":"d","samples":[]})"),
        withSeries(R"({"provider":"Claude","accountDigest":"d","samples":[]})"),
        withSeries(R"({"provider":"Claude","windowID":"w","accountDigest":"d"})"),
        withSeries(seriesWith(R"(,"durationMinutes":1.5)", sample)),
        withSeries(seriesWith(R"(,"resetsAt":"soon")", sample)),
        withSeries(seriesWith("", R"({"date":1,"usedPercent":1})")),
        withSeries(seriesWith("", R"({"date":1e999,"usedPercent":1,"startsSegment":true})")),
        withSeries(seriesWith(
            "",
            R"({"date":1,"usedPercent":1,"startsSegment":true,"transition":{"date":1,"kind":"jump","isEstimated":true}})")),
        withSeries(seriesWith(
            "",
            R"({"date":1,"usedPercent":1,"startsSegment":true,"transition":{"date":1,"kind":"reset"}})")),
        R"({"version":1,"series":{},"rhythms":{"Claude|w":{"accountDigest":"d","hours":[]}}})",
        R"({"version":1,"series":{},"rhythms":{"Claude|w":{"accountDigest":"d","timeZoneIdentifier":"UTC","hours":[{"start":1,"usedPercent":1}]}}})",
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_THROW(decodeArchive(text), platform::DecodingError);
    }
    // The same shapes with every required member present load.
    EXPECT_NO_THROW(decodeArchive(withSeries(seriesWith("", sample))));
}

TEST(UsageArchiveTest, StoreLoadsAFileAndRebuildsMissingRhythms) {
    testing::TempDirectory folder;
    const auto file = folder.write("with.json", fixture("archive_v1.json"));
    UsageHistoryStore store(file, kNoon + 60, Calendar("Europe/Moscow"));
    EXPECT_EQ(store.persistenceError(), std::nullopt);
    EXPECT_EQ(store.archive(), decodeArchive(fixture("archive_v1.json")));
    // Nothing expired, so the file was not rewritten.
    EXPECT_EQ(*platform::readFile(file, 1 << 20), fixture("archive_v1.json"));

    const auto bare = folder.write("without.json", fixture("without_rhythms.json"));
    UsageHistoryStore rebuilt(bare, kNoon + 60, Calendar("UTC"));
    EXPECT_EQ(rebuilt.persistenceError(), std::nullopt);
    const auto rhythm =
        rebuilt.rhythm(ProviderKind::kimi, window("kimi-week", 14, kNoon + 99'200, 10080));
    ASSERT_TRUE(rhythm);
    EXPECT_EQ(rhythm->accountDigest,
              std::string(rebuilt.archive().series.begin()->second.accountDigest));
    EXPECT_EQ(rhythm->timeZoneIdentifier, "UTC");
    // 11:35-11:45 (+2 %) and 11:55-12:00 (+1 %); the pair across the segment start is skipped.
    ASSERT_EQ(rhythm->hours.size(), 1u);
    EXPECT_EQ(rhythm->hours[0], (RhythmHour{kNoon - 3600, 3, 900}));
}

TEST(UsageArchiveTest, UnreadableFilesGiveAnEmptyHistoryAndTheReadError) {
    struct Case {
        const char* name;
        std::string contents;
    };
    const std::string good = fixture("archive_v1.json");
    const Case cases[] = {
        {"version 2", R"({"version":2,"series":{}})"},
        {"truncated", good.substr(0, good.size() / 2)},
        {"unknown provider", R"({"version":1,"series":{"X|w":{"provider":"Gemini","windowID":"w",)"
                             R"("accountDigest":"d","samples":[]}}})"},
        {"not JSON", "\x01\x02garbage"},
        {"directory in place of the file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempDirectory folder;
        const auto file = folder.path() / "Kestrane" / "usage-history-v1.json";
        if (c.contents.empty()) {
            std::filesystem::create_directories(file);
        } else {
            folder.write("Kestrane/usage-history-v1.json", c.contents);
        }
        UsageHistoryStore store(file, kNoon, Calendar("UTC"));
        EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::readErrorText));
        EXPECT_EQ(store.archive(), UsageArchive{});
        if (!c.contents.empty()) {
            // Kept until a save succeeds, which also clears the message.
            EXPECT_EQ(*platform::readFile(file, 1 << 20), c.contents);
            recordNow(store, usage(kNoon, {window("claude-session", 5)}));
            EXPECT_EQ(store.persistenceError(), std::nullopt);
            EXPECT_EQ(decodeArchive(*platform::readFile(file, 1 << 20)), store.archive());
        } else {
            recordNow(store, usage(kNoon, {window("claude-session", 5)}));
            EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::saveErrorText));
            EXPECT_EQ(store.archive().series.size(), 1u);
        }
    }
}

TEST(UsageArchiveTest, SavesPrivatelyAndKeepsHistoryInMemoryWhenTheFolderIsUnwritable) {
    testing::TempDirectory folder;
    const auto file = folder.path() / "data" / "Kestrane" / "usage-history-v1.json";
    {
        UsageHistoryStore store(file, kNoon, Calendar("UTC"));
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        recordNow(store, usage(kNoon, {window("claude-session", 5)}));
        EXPECT_EQ(store.persistenceError(), std::nullopt);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(decodeArchive(*platform::readFile(file, 1 << 20)), store.archive());
    }

    // A regular file where the folder should be: the folder cannot be created, even by root.
    const auto blocked = folder.write("blocker", "x") / "Kestrane" / "usage-history-v1.json";
    UsageHistoryStore store(blocked, kNoon, Calendar("UTC"));
    EXPECT_EQ(store.persistenceError(), std::nullopt);
    recordNow(store, usage(kNoon, {window("claude-session", 5)}));
    recordNow(store, usage(kNoon + 120, {window("claude-session", 6)}));
    EXPECT_EQ(store.persistenceError(), std::string(UsageHistoryStore::saveErrorText));
    EXPECT_EQ(store.archive().series.at("Claude|claude-session").samples.size(), 2u);
    EXPECT_TRUE(store.series(ProviderKind::claude, window("claude-session", 6), kNoon + 120));
}

TEST(UsageArchiveTest, LoadPrunesExpiredEntriesAndSaves) {
    testing::TempDirectory folder;
    const auto file = folder.write("h.json", fixture("archive_v1.json"));
    // Eight days later every series has expired; the rhythm hour is still young enough.
    UsageHistoryStore store(file, kNoon + 8 * 86'400, Calendar("Europe/Moscow"));
    EXPECT_EQ(store.persistenceError(), std::nullopt);
    EXPECT_TRUE(store.archive().series.empty());
    EXPECT_EQ(store.archive().rhythms.size(), 1u);
    EXPECT_EQ(decodeArchive(*platform::readFile(file, 1 << 20)), store.archive());
}

TEST(UsageArchiveTest, DefaultLocationFollowsTheDataHome) {
    const platform::MapEnvironment xdg({{"XDG_DATA_HOME", "/data"}}, "/home/u");
    EXPECT_EQ(UsageHistoryStore::defaultFilePath(xdg), "/data/Kestrane/usage-history-v1.json");
    for (const char* ignored : {"", "relative/dir"}) {
        const platform::MapEnvironment environment({{"XDG_DATA_HOME", ignored}}, "/home/u");
        EXPECT_EQ(UsageHistoryStore::defaultFilePath(environment),
                  "/home/u/.local/share/Kestrane/usage-history-v1.json");
    }
    const platform::MapEnvironment none({}, "/home/u");
    EXPECT_EQ(UsageHistoryStore::defaultFilePath(none),
              "/home/u/.local/share/Kestrane/usage-history-v1.json");
}

}  // namespace
}  // namespace kestrane::history
