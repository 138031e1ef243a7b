#include "platform/Environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kestrane::platform {

std::optional<std::string> ProcessEnvironment::value(std::string_view name) const {
    const std::string key(name);
    if (const char* found = std::getenv(key.c_str())) return std::string(found);
    return std::nullopt;
}

std::filesystem::path ProcessEnvironment::homeDirectory() const {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return result->pw_dir;
    }
    return "/";
}

std::optional<std::string> MapEnvironment::value(std::string_view name) const {
    const auto it = variables_.find(name);
    if (it == variables_.end()) return std::nullopt;
    return it->second;
}

std::string trimmedWhitespace(std::string_view text) {
    constexpr std::string_view whitespace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(whitespace);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(whitespace);
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace kestrane::platform
