#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/ArchiveChange.h"
#include "history/UsageArchive.h"

namespace kestrane::history::journal {

// The journal continues one archive file: the changes made since that file was written, one
// line per write. Every line is "<16 hex digits> <JSON>\n", the digits being contentHash of the
// JSON, so a line cut short by a crash, or damaged later, is recognised as such. The first line
// names the archive file by the hash of its bytes:
//   ["kestrane-history-journal",1,"<16 hex digits>"]
// and every further line is an array of changes, each an array of plain values, for example
//   [["sample","Claude|claude-session",1741608000.5,12.5,false],["thin","Claude|claude-session"]]
// Dates are seconds since 1970 (the store's own numbers, so they come back bit for bit); a
// number that is not finite is written as the string "inf", "-inf" or "nan".

inline constexpr std::int64_t currentVersion = 1;

// A fast 64-bit hash for recognising bytes again (not a defence against anyone).
std::uint64_t contentHash(std::string_view bytes);

std::string headerLine(std::uint64_t archiveHash);
// Appends one line holding `changes`, which are applied together.
void appendChangesLine(std::string& out, const std::vector<ArchiveChange>& changes);

struct Replay {
    enum class Outcome {
        // Every complete line was applied; a last line cut short (a crash while writing it)
        // is ignored.
        applied,
        // The journal continues another archive file (a crash between writing the archive file
        // and removing the journal it replaced, or another program wrote the file): nothing
        // applied, the journal is of no use.
        otherArchive,
        // The journal cannot be read past `validBytes` (damaged, or a format this build does
        // not know): its bytes must be kept, not written over.
        damaged,
    };
    Outcome outcome = Outcome::otherArchive;
    // Bytes up to the end of the last line applied, header included (0 when none was usable).
    std::size_t validBytes = 0;
    std::size_t linesApplied = 0;
};

// Applies the journal `text` to `archive`, the content of the archive file whose bytes hash to
// `archiveHash`. Reads any bytes without crashing; a change that does not fit the archive stops
// the replay as damage.
Replay replay(std::string_view text, std::uint64_t archiveHash, UsageArchive& archive);

}  // namespace kestrane::history::journal
