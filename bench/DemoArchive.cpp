// Writes a history file of a synthetic Claude user ending now, for looking at the panel and
// `--status --json` on a real archive: 90 days of the bursty user of SyntheticHistory.h in a
// five-hour window, recorded by the real history store into the given file, and the answer
// the Claude usage endpoint would give now, for a loopback fake to serve. Used by
// scripts/screenshots/track-record.sh.
//
//   usage: DemoArchive <history file> <usage answer to write> [time zone]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "SyntheticHistory.h"
#include "platform/Calendar.h"
#include "platform/Json.h"
#include "providers/claude/ClaudeClient.h"

namespace {

using kestrane::platform::Date;

std::string isoDate(Date date) {
    const auto seconds = static_cast<std::time_t>(date.secondsSince1970);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: DemoArchive <history file> <usage answer> [time zone]\n");
        return 2;
    }
    const kestrane::platform::Calendar calendar(argc > 3 ? argv[3] : "Europe/Moscow");
    const Date now{static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count())};
    const Date weekly = now + 3 * 86400;
    const std::string shape = R"({"five_hour":{"utilization":0,"resets_at":null},)"
                              R"("seven_day":{"utilization":35,"resets_at":")" +
                              isoDate(weekly) + R"("}})";
    auto usage = kestrane::providers::ClaudeClient::parseUsage(shape, std::nullopt, now);
    std::string session;
    for (const auto& window : usage.windows) {
        if (window.durationMinutes == 300) session = window.id;
    }
    const auto made = kestrane::bench::simulate(kestrane::bench::bursty, 2, calendar, now, 90,
                                                usage, session, std::filesystem::path(argv[1]));
    kestrane::platform::Json answer = kestrane::platform::Json::parse(shape);
    answer["five_hour"]["utilization"] = made.last.usedPercent;
    answer["five_hour"]["resets_at"] = made.last.resetsAt
                                           ? kestrane::platform::Json(isoDate(*made.last.resetsAt))
                                           : kestrane::platform::Json(nullptr);
    std::ofstream(argv[2]) << answer.dump();
    std::printf("%zu samples, session at %.1f%%\n", made.series.samples.size(),
                made.last.usedPercent);
    return 0;
}
