#include "localservices/LocalServiceParser.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "platform/UnicodeText.h"
#include "platform/WallClockConverter.h"

namespace kestrane::localservices::LocalServiceParser {
namespace {

// Words are split at any Unicode white space, as the classifier splits command lines.
using platform::nextWord;

// Calls `visit` for every non-empty line.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) visit(text.substr(start, end - start));
        start = end + 1;
    }
}

// Whole-text decimal integers only: no spaces, no trailing characters; a leading "+" is
// accepted as the other tools' number readers do.
template <typename Integer>
std::optional<Integer> parseInteger(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('+') || text.starts_with('-')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseDouble(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('+') || text.starts_with('-')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Reads ps's start time ("EEE MMM d HH:mm:ss yyyy" with English names, as in the POSIX
// locale) field by field: a general date-pattern parser costs several microseconds a line,
// which adds up to tens of milliseconds on a busy machine's process table.
class StartTimeReader {
  public:
    explicit StartTimeReader(const platform::Calendar& calendar) : converter_(calendar) {}

    // `fields`: weekday, month, day, time, year.
    std::optional<platform::Date> read(const std::string_view* fields) {
        if (!nameIndex(fields[0], kWeekdays)) return std::nullopt;
        const auto month = nameIndex(fields[1], kMonths);
        const auto day = number(fields[2], 2);
        const auto year = number(fields[4], 4);
        const std::string_view time = fields[3];
        const auto firstColon = time.find(':');
        const auto secondColon = time.find(':', firstColon + 1);
        if (!month || !day || !year || firstColon == std::string_view::npos ||
            secondColon == std::string_view::npos) {
            return std::nullopt;
        }
        const auto hour = number(time.substr(0, firstColon), 2);
        const auto minute = number(time.substr(firstColon + 1, secondColon - firstColon - 1), 2);
        const auto second = number(time.substr(secondColon + 1), 2);
        if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) {
            return std::nullopt;
        }
        return converter_.date(*year, *month + 1, *day, *hour, *minute, *second);
    }

  private:
    static constexpr std::string_view kWeekdays[] = {"sun", "mon", "tue", "wed",
                                                     "thu", "fri", "sat"};
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};

    template <std::size_t N>
    static std::optional<int> nameIndex(std::string_view text, const std::string_view (&names)[N]) {
        if (text.size() != 3) return std::nullopt;
        char lower[3];
        for (int i = 0; i < 3; ++i) {
            const char c = text[i];
            lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (std::string_view(lower, 3) == names[i]) return static_cast<int>(i);
        }
        return std::nullopt;
    }

    static std::optional<int> number(std::string_view text, std::size_t maxDigits) {
        if (text.empty() || text.size() > maxDigits) return std::nullopt;
        int value = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        return value;
    }

    platform::WallClockConverter converter_;
};

// A process id as the tools print it. Only positive ids name a process: 0 and negative
// values would, passed on to lsof, ps or kill, mean something else entirely.
std::optional<std::int32_t> parsePid(std::string_view text) {
    const auto pid = parseInteger<std::int32_t>(text);
    if (!pid || *pid < 1) return std::nullopt;
    return pid;
}

// The -F formats group fields under "p" lines. A pid line that cannot be read clears the
// current pid, so the fields after it are never pinned on the process before.
template <typename Field>
void forEachProcessField(std::string_view output, Field&& field) {
    std::optional<std::int32_t> current;
    forEachLine(output, [&](std::string_view line) {
        const char tag = line.front();
        const std::string_view value = line.substr(1);
        if (tag == 'p') {
            current = parsePid(value);
            if (current) field(*current, tag, value);
        } else if (current) {
            field(*current, tag, value);
        }
    });
}

}  // namespace

std::optional<int> port(std::string_view name) {
    const auto colon = name.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto value = parseInteger<int>(name.substr(colon + 1));
    if (!value || *value < 1 || *value > 65535) return std::nullopt;
    return value;
}

std::vector<LocalListenerRecord> listeners(std::string_view output) {
    std::map<std::int32_t, LocalListenerRecord> records;
    forEachProcessField(output, [&](std::int32_t pid, char tag, std::string_view value) {
        switch (tag) {
            case 'p':
                records.try_emplace(pid, LocalListenerRecord{pid, 0, {}, {}});
                break;
            case 'c':
                records[pid].name = std::string(value);
                break;
            case 'u':
                if (const auto uid = parseInteger<std::uint32_t>(value)) records[pid].uid = *uid;
                break;
            case 'n':
                if (const auto number = port(value)) records[pid].ports.insert(*number);
                break;
            default:
                break;
        }
    });
    std::vector<LocalListenerRecord> result;
    for (auto& [pid, record] : records) {
        if (!record.ports.empty()) result.push_back(std::move(record));
    }
    return result;
}

std::map<std::int32_t, LocalProcessMetadata> processMetadata(std::string_view output,
                                                             const platform::Calendar& calendar) {
    StartTimeReader startTimes(calendar);
    // Most processes of a session started in the same few seconds; parse each time once.
    std::unordered_map<std::string, std::optional<platform::Date>> parsedDates;

    std::map<std::int32_t, LocalProcessMetadata> table;
    std::vector<std::string_view> fields;
    forEachLine(output, [&](std::string_view line) {
        fields.clear();
        std::size_t position = 0;
        std::size_t commandStart = std::string_view::npos;
        while (position < line.size()) {
            const auto [start, end] = nextWord(line, position);
            if (start == line.size()) break;
            if (fields.size() == 9) {
                commandStart = start;
                break;
            }
            fields.push_back(line.substr(start, end - start));
            position = end;
        }
        if (fields.size() < 9 || commandStart == std::string_view::npos) return;
        const auto pid = parsePid(fields[0]);
        const auto uid = parseInteger<std::uint32_t>(fields[1]);
        if (!pid || !uid) return;

        LocalProcessMetadata metadata;
        metadata.pid = *pid;
        metadata.uid = *uid;
        metadata.cpuPercent = parseDouble(fields[2]);
        if (const auto kilobytes = parseInteger<std::uint64_t>(fields[3]);
            kilobytes && *kilobytes <= std::numeric_limits<std::uint64_t>::max() / 1024) {
            metadata.memoryBytes = *kilobytes * 1024;
        }
        for (std::size_t i = 4; i <= 8; ++i) {
            if (i > 4) metadata.startToken += ' ';
            metadata.startToken.append(fields[i]);
        }
        auto [cached, inserted] = parsedDates.try_emplace(metadata.startToken);
        if (inserted) cached->second = startTimes.read(&fields[4]);
        metadata.startedAt = cached->second;

        // The command's own words, joined by single spaces like every other field.
        std::string_view rest = line.substr(commandStart);
        metadata.command.reserve(rest.size());
        std::size_t at = 0;
        while (at < rest.size()) {
            const auto [start, end] = nextWord(rest, at);
            if (start == rest.size()) break;
            if (!metadata.command.empty()) metadata.command += ' ';
            metadata.command.append(rest.substr(start, end - start));
            at = end;
        }
        // ps lists by pid, so the end is almost always the right place.
        table.insert_or_assign(table.end(), *pid, std::move(metadata));
    });
    return table;
}

std::map<std::int32_t, std::string> workingDirectories(std::string_view output) {
    std::map<std::int32_t, std::string> directories;
    forEachProcessField(output, [&](std::int32_t pid, char tag, std::string_view value) {
        if (tag == 'n') directories.insert_or_assign(pid, std::string(value));
    });
    return directories;
}

}  // namespace kestrane::localservices::LocalServiceParser
