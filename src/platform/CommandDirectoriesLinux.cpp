#include <algorithm>
#include <charconv>
#include <system_error>

#include "platform/CommandDirectories.h"
#include "platform/Files.h"

namespace kestrane::platform {
namespace {

namespace fs = std::filesystem;

// A .npmrc is a few lines; anything this large is not one.
constexpr std::size_t kMaxNpmrcBytes = 64 * 1024;

// "v20.11.1" → {20, 11, 1}; anything else sorts below every real version.
std::vector<long> versionNumbers(const std::string& name) {
    std::vector<long> numbers;
    std::string_view rest = name;
    if (rest.starts_with('v')) rest.remove_prefix(1);
    while (!rest.empty()) {
        long value = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (error != std::errc()) return {};
        numbers.push_back(value);
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
        if (rest.empty()) break;
        if (rest.front() != '.') return {};
        rest.remove_prefix(1);
    }
    return numbers;
}

// nvm keeps one folder per Node.js version; the newest comes first.
std::vector<fs::path> nvmDirectories(const fs::path& home) {
    std::vector<fs::path> versions;
    std::error_code error;
    fs::directory_iterator walk(home / ".nvm" / "versions" / "node", error);
    if (error) return {};
    for (const fs::directory_iterator end; walk != end; walk.increment(error)) {
        if (error) break;
        versions.push_back(walk->path());
        if (versions.size() > 256) break;  // a real machine has a handful
    }
    std::sort(versions.begin(), versions.end(), [](const fs::path& a, const fs::path& b) {
        const auto left = versionNumbers(a.filename().string());
        const auto right = versionNumbers(b.filename().string());
        if (left != right) return left > right;
        return a.filename().string() > b.filename().string();
    });
    std::vector<fs::path> directories;
    for (const auto& version : versions) directories.push_back(version / "bin");
    return directories;
}

}  // namespace

std::optional<fs::path> npmPrefix(const Environment& environment) {
    const fs::path home = environment.homeDirectory();
    const auto data = readFile(home / ".npmrc", kMaxNpmrcBytes);
    if (!data) return std::nullopt;
    std::optional<fs::path> prefix;
    std::string_view rest = *data;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string line = trimmedWhitespace(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.starts_with("prefix")) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || trimmedWhitespace(line.substr(0, equals)) != "prefix") {
            continue;
        }
        std::string value = trimmedWhitespace(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (value == "~") {
            prefix = home;
        } else if (value.starts_with("~/")) {
            prefix = home / value.substr(2);
        } else if (value.starts_with('/')) {
            prefix = fs::path(value);
        }
        // The last setting wins, as in npm.
    }
    return prefix;
}

std::vector<fs::path> packageCommandDirectories(const Environment& environment) {
    const fs::path home = environment.homeDirectory();
    std::vector<fs::path> directories{home / ".local" / "bin"};
    if (const auto prefix = npmPrefix(environment)) directories.push_back(*prefix / "bin");
    directories.push_back(home / ".npm-global" / "bin");
    for (auto& directory : nvmDirectories(home)) directories.push_back(std::move(directory));
    directories.push_back("/home/linuxbrew/.linuxbrew/bin");
    directories.push_back(home / ".linuxbrew" / "bin");
    directories.push_back("/usr/local/bin");
    return directories;
}

}  // namespace kestrane::platform
