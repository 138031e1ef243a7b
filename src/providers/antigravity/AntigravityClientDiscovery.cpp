// Finding the running language servers: the process listing, their listening sockets and the
// endpoints built from both.

#include "providers/antigravity/AntigravityClient.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <set>

#include "model/QuotaError.h"
#include "platform/ChildProcess.h"
#include "platform/RegularExpression.h"
#include "platform/SystemTools.h"
#include "platform/UnicodeText.h"

namespace kestrane::providers {
namespace {

using model::QuotaError;

// A busy machine lists a few thousand processes; real command lines are a few kilobytes.
constexpr std::size_t kMaxProcessListingBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxCommandLineBytes = 64 * 1024;
constexpr std::size_t kMaxSocketListingBytes = 1024 * 1024;

// The executable is language_server or language-server with optional platform suffixes,
// at the start of the command line or after a path separator, and followed by a space or
// the end: a wrapper script such as language_server_wrapper.sh is not the server.
constexpr std::string_view kServerPattern =
    R"((^|[/\\])language(?:_|-)server(?:[_-][a-z0-9]+)*($|\s))";
constexpr std::string_view kListeningPattern = R"(:(\d+)\s+\(LISTEN\))";

// Compiled once; a compiled expression is immutable and may be shared between threads.
const platform::RegularExpression* serverPattern() {
    static const auto pattern = platform::RegularExpression::compile(kServerPattern);
    return pattern ? &*pattern : nullptr;
}

const platform::RegularExpression* listeningPattern() {
    static const auto pattern = platform::RegularExpression::compile(kListeningPattern);
    return pattern ? &*pattern : nullptr;
}

// A decimal integer with an optional sign, nothing else.
std::optional<long long> decimalInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<int> tcpPort(std::string_view text) {
    const auto value = decimalInteger(text);
    if (!value || *value < 1 || *value > 65535) return std::nullopt;
    return static_cast<int>(*value);
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// `part` is lower-case ASCII. Only ASCII letters are folded, whatever the C library's locale.
bool containsIgnoringAsciiCase(std::string_view text, std::string_view part) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

std::string_view trimmedSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<AntigravityProcess> parseListingLine(std::string_view line) {
    line = trimmedSpaces(line);
    if (line.empty() || line.size() > kMaxCommandLineBytes) return std::nullopt;
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const auto pid = decimalInteger(line.substr(0, space));
    if (!pid || *pid < INT32_MIN || *pid > INT32_MAX) return std::nullopt;
    const std::string_view command = line.substr(space + 1);
    // Most lines are other programs; a plain byte search spares them the Unicode work.
    // (No non-ASCII letter lower-cases to one of the letters of "language".)
    if (!containsIgnoringAsciiCase(command, "language")) return std::nullopt;

    const std::string lower = platform::lowercased(command);
    const platform::RegularExpression* pattern = serverPattern();
    if (!pattern || !pattern->isFoundIn(lower)) return std::nullopt;
    const bool isAntigravity =
        contains(lower, "antigravity.app/") ||
        (contains(lower, "--app_data_dir") && contains(lower, "antigravity"));
    if (!isAntigravity) return std::nullopt;

    auto csrfToken = AntigravityClient::flag("--csrf_token", command);
    if (!csrfToken) return std::nullopt;
    AntigravityProcess process{.pid = static_cast<int>(*pid), .csrfToken = std::move(*csrfToken)};
    if (const auto port = AntigravityClient::flag("--extension_server_port", command)) {
        if (const auto value = decimalInteger(*port);
            value && *value >= INT32_MIN && *value <= INT32_MAX) {
            process.extensionPort = static_cast<int>(*value);
        }
    }
    process.extensionToken = AntigravityClient::flag("--extension_server_csrf_token", command);
    return process;
}

}  // namespace

std::string AntigravityClient::processOutput(const std::filesystem::path& executable,
                                             const std::vector<std::string>& arguments,
                                             std::size_t maxOutputBytes,
                                             std::chrono::milliseconds limit) {
    auto result = platform::runCommand(executable, arguments, maxOutputBytes, limit);
    if (!result.exitedSuccessfully()) {
        throw QuotaError::unavailable("Не удалось проверить локальный процесс Antigravity.");
    }
    if (result.truncated) {
        // The last line was cut somewhere; half a command line could yield half a token.
        const auto lastBreak = result.output.find_last_of('\n');
        result.output.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    }
    if (!platform::isValidUtf8(result.output)) return {};
    return std::move(result.output);
}

std::vector<AntigravityProcess> AntigravityClient::runningProcesses() {
    const std::string listing =
        processOutput(platform::psExecutable(), {"-ax", "-o", "pid=,uid=,command="},
                      kMaxProcessListingBytes, processListingLimit);
    return parseOwnedProcessListing(listing, ::getuid());
}

std::vector<AntigravityProcess> AntigravityClient::parseOwnedProcessListing(
    std::string_view listing, uid_t owner) {
    // Another user's process could pose as a language server and hand us made-up quotas (or
    // learn our requests); only servers of the current user are asked.
    std::vector<AntigravityProcess> processes;
    const std::string ownerText = std::to_string(owner);
    while (!listing.empty()) {
        const auto end = listing.find_first_of("\r\n");
        std::string_view line = trimmedSpaces(listing.substr(0, end));
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
        const auto pidEnd = line.find(' ');
        if (pidEnd == std::string_view::npos) continue;
        const std::string_view pid = line.substr(0, pidEnd);
        std::string_view rest = line.substr(pidEnd);
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
        const auto uidEnd = rest.find(' ');
        if (uidEnd == std::string_view::npos || rest.substr(0, uidEnd) != ownerText) continue;
        const std::string entry = std::string(pid) + std::string(rest.substr(uidEnd));
        if (auto process = parseListingLine(entry)) processes.push_back(std::move(*process));
    }
    return processes;
}

std::vector<AntigravityProcess> AntigravityClient::parseProcessListing(std::string_view listing) {
    std::vector<AntigravityProcess> processes;
    while (!listing.empty()) {
        const auto end = listing.find_first_of("\r\n");
        const std::string_view line = listing.substr(0, end);
        listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
        if (auto process = parseListingLine(line)) processes.push_back(std::move(*process));
    }
    return processes;
}

std::optional<std::string> AntigravityClient::flag(std::string_view name,
                                                   std::string_view command) {
    // Every ASCII character but letters and digits is quoted (no other one is special), so
    // the name matches literally.
    std::string pattern = "(?i)";
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80;
        if (!plain) pattern += '\\';
        pattern += c;
    }
    pattern += R"((?:=|\s+)([^\s]+))";
    const auto compiled = platform::RegularExpression::compile(pattern);
    if (!compiled) return std::nullopt;
    return compiled->firstMatch(command, 1);
}

std::vector<int> AntigravityClient::listeningPorts(int pid) {
    const std::string lister = platform::lsofExecutable();
    if (::access(lister.c_str(), X_OK) != 0) return {};
    try {
        const std::string listing =
            processOutput(lister, {"-nP", "-iTCP", "-sTCP:LISTEN", "-a", "-p", std::to_string(pid)},
                          kMaxSocketListingBytes, socketListingLimit);
        return parseListeningPorts(listing);
    } catch (...) {
        // lsof also fails when the process has no listening socket: simply no ports.
        return {};
    }
}

std::vector<int> AntigravityClient::parseListeningPorts(std::string_view listing) {
    const platform::RegularExpression* pattern = listeningPattern();
    if (!pattern) return {};
    std::set<int> ports;
    for (const std::string& digits : pattern->everyMatch(listing, 1)) {
        // \d also matches other scripts' digits; only ASCII ones make a port.
        if (const auto port = tcpPort(digits)) ports.insert(*port);
    }
    return {ports.begin(), ports.end()};
}

std::vector<AntigravityClient::Endpoint> AntigravityClient::endpoints(
    const AntigravityProcess& process, const std::vector<int>& listeningPorts) {
    std::vector<int> ascending = listeningPorts;
    std::sort(ascending.begin(), ascending.end());
    std::vector<Endpoint> candidates;
    for (const int port : ascending) candidates.push_back({"https", port, process.csrfToken});
    if (process.extensionPort) {
        candidates.push_back(
            {"http", *process.extensionPort, process.extensionToken.value_or(process.csrfToken)});
    }
    std::vector<Endpoint> unique;
    for (auto& candidate : candidates) {
        if (std::find(unique.begin(), unique.end(), candidate) == unique.end()) {
            unique.push_back(std::move(candidate));
        }
    }
    return unique;
}

}  // namespace kestrane::providers
