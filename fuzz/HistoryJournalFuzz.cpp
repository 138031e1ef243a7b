// The journal beside the usage history file, as a crash, a damaged disk or another program may
// have left it: replaying it never crashes, stops at a line boundary, and leaves an archive that
// can be written and read again.
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"
#include "history/ArchiveJournal.h"
#include "history/UsageArchive.h"

namespace {

using namespace kestrane;

// The archive file the journal continues: keys the seed corpus changes.
const history::UsageArchive& base() {
    static const history::UsageArchive archive = [] {
        history::UsageArchive a;
        const std::string digest(64, 'a');
        a.series["Claude|claude-session"] =
            history::UsageSeries{model::ProviderKind::claude,
                                 "claude-session",
                                 digest,
                                 300,
                                 std::nullopt,
                                 {{platform::Date{1'741'608'000}, 10, true, std::nullopt},
                                  {platform::Date{1'741'608'300}, 12, false, std::nullopt}}};
        a.rhythms["Claude|claude-session"] =
            history::RhythmHistory{digest, 300, "UTC", {{platform::Date{1'741'604'400}, 2, 300}}};
        return a;
    }();
    return archive;
}

std::string withCheck(std::string_view json) {
    char sum[17];
    std::snprintf(sum, sizeof sum, "%016llx",
                  static_cast<unsigned long long>(history::journal::contentHash(json)));
    std::string line(sum);
    line += ' ';
    line += json;
    line += '\n';
    return line;
}

void replayAndCheck(std::string_view journal, std::uint64_t hash) {
    history::UsageArchive archive = base();
    const auto result = history::journal::replay(journal, hash, archive);
    if (result.validBytes > journal.size()) std::abort();
    if (result.validBytes > 0 && journal[result.validBytes - 1] != '\n') std::abort();
    std::string encoded;
    try {
        encoded = history::encodeArchive(archive);
    } catch (const std::domain_error&) {
        // A number JSON cannot hold: the store reports the failed save and keeps it in memory.
        return;
    }
    // Dates are not compared: the file counts from 2001, and a date far from now may round.
    try {
        (void)history::decodeArchive(encoded);
    } catch (const platform::DecodingError&) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::asText(data, size);
    const std::uint64_t hash = history::journal::contentHash(history::encodeArchive(base()));
    // As found on disk.
    replayAndCheck(text, hash);
    // Each input line as the JSON of a line whose check holds, so the changes themselves are read.
    std::string journal = history::journal::headerLine(hash);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        journal += withCheck(text.substr(start, end - start));
        start = end + 1;
    }
    replayAndCheck(journal, hash);
    return 0;
}
