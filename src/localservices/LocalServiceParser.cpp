#include "localservices/LocalServiceParser.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "platform/DatePatternParser.h"

namespace kestrane::localservices::LocalServiceParser {
namespace {

constexpr std::string_view kWhitespace = " \t\n\v\f\r";

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

// The -F formats group fields under "p" lines. A pid line that cannot be read clears the
// current pid, so the fields after it are never pinned on the process before.
template <typename Field>
void forEachProcessField(std::string_view output, Field&& field) {
    std::optional<std::int32_t> current;
    forEachLine(output, [&](std::string_view line) {
        const char tag = line.front();
        const std::string_view value = line.substr(1);
        if (tag == 'p') {
            current = parseInteger<std::int32_t>(value);
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
    const platform::DatePatternParser dates("EEE MMM d HH:mm:ss yyyy", "en_US_POSIX", calendar);
    // Most processes of a session started in the same few seconds; parse each time once.
    std::unordered_map<std::string, std::optional<platform::Date>> parsedDates;

    std::map<std::int32_t, LocalProcessMetadata> table;
    std::vector<std::string_view> fields;
    forEachLine(output, [&](std::string_view line) {
        fields.clear();
        std::size_t position = 0;
        std::size_t commandStart = std::string_view::npos;
        while (position < line.size()) {
            const auto start = line.find_first_not_of(kWhitespace, position);
            if (start == std::string_view::npos) break;
            auto end = line.find_first_of(kWhitespace, start);
            if (end == std::string_view::npos) end = line.size();
            if (fields.size() == 9) {
                commandStart = start;
                break;
            }
            fields.push_back(line.substr(start, end - start));
            position = end;
        }
        if (fields.size() < 9 || commandStart == std::string_view::npos) return;
        const auto pid = parseInteger<std::int32_t>(fields[0]);
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
        if (inserted) cached->second = dates.parse(metadata.startToken);
        metadata.startedAt = cached->second;

        // The command's own words, joined by single spaces like every other field.
        std::string_view rest = line.substr(commandStart);
        metadata.command.reserve(rest.size());
        std::size_t at = 0;
        while (at < rest.size()) {
            const auto start = rest.find_first_not_of(kWhitespace, at);
            if (start == std::string_view::npos) break;
            auto end = rest.find_first_of(kWhitespace, start);
            if (end == std::string_view::npos) end = rest.size();
            if (!metadata.command.empty()) metadata.command += ' ';
            metadata.command.append(rest.substr(start, end - start));
            at = end;
        }
        table.insert_or_assign(*pid, std::move(metadata));
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
