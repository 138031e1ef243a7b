#include "providers/ClaudeCodeSettings.h"

#include <algorithm>
#include <cctype>

#include "platform/Files.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"

namespace kestrane::providers {
namespace {

// Claude Code's settings are a few kilobytes; anything this large is not them.
constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// The host of an http(s) URL, in lower case; empty when the URL has none.
std::string hostOf(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) return {};
    const std::string protocol = lowercased(url.substr(0, scheme));
    if (protocol != "https" && protocol != "http") return {};
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    // User information before the host, then the port after it.
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    if (rest.starts_with('[')) return {};
    rest = rest.substr(0, rest.find(':'));
    if (rest.ends_with('.')) rest.remove_suffix(1);
    return lowercased(rest);
}

bool isUnder(const std::string& host, std::string_view domain) {
    return host == domain || (host.size() > domain.size() && host.ends_with(domain) &&
                              host[host.size() - domain.size() - 1] == '.');
}

// A string member of Claude Code's file; anything else counts as missing.
std::optional<std::string> text(const platform::Json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

}  // namespace

std::filesystem::path claudeCodeDirectory(const platform::Environment& environment) {
    if (const auto directory = environment.value(claudeConfigDirectoryVariable)) {
        const std::string trimmed = platform::trimmedWhitespace(*directory);
        if (!trimmed.empty()) return trimmed;
    }
    return environment.homeDirectory() / ".claude";
}

std::optional<ApiKey> claudeCodeApiKey(const platform::Environment& environment,
                                       std::span<const ClaudeCodeHost> hosts) {
    try {
        const auto data = platform::readFile(claudeCodeDirectory(environment) / "settings.json",
                                             kMaxSettingsBytes);
        if (!data) return std::nullopt;
        const platform::Json root = platform::parseJson(*data);
        if (!root.is_object()) return std::nullopt;
        const auto env = root.find("env");
        if (env == root.end() || !env->is_object()) return std::nullopt;
        const auto baseUrl = text(*env, "ANTHROPIC_BASE_URL");
        if (!baseUrl) return std::nullopt;
        const std::string host = hostOf(platform::trimmedWhitespace(*baseUrl));
        const auto match = std::find_if(hosts.begin(), hosts.end(), [&](const auto& known) {
            return !host.empty() && isUnder(host, known.domain);
        });
        if (match == hosts.end()) return std::nullopt;
        for (const char* name : {"ANTHROPIC_AUTH_TOKEN", "ANTHROPIC_API_KEY"}) {
            auto key = text(*env, name);
            if (!key) continue;
            std::string trimmed = platform::trimmedWhitespace(*key);
            if (trimmed.empty()) continue;
            if (!isUsableApiKey(trimmed)) return std::nullopt;
            return ApiKey{std::move(trimmed), "из настроек Claude Code",
                          std::string(match->origin)};
        }
    } catch (const std::exception&) {
        // Another tool's file: one that cannot be read or is not JSON holds no key for us.
    }
    return std::nullopt;
}

}  // namespace kestrane::providers
