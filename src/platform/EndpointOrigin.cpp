#include "platform/EndpointOrigin.h"

#include <algorithm>
#include <cctype>

namespace kestrane::platform {
namespace {

bool isHostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

bool validPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int value = std::stoi(std::string(port));
    return value > 0 && value <= 65535;
}

// Splits "host[:port]" or "[v6]:port"; empty host on failure.
bool splitAuthority(std::string_view authority, std::string& host) {
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = std::string(authority.substr(0, close + 1));
        const auto rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            port = rest.substr(1);
            if (!validPort(port)) return false;
        }
        const auto inside = authority.substr(1, close - 1);
        return !inside.empty() && std::all_of(inside.begin(), inside.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
    }
    const auto colon = authority.find(':');
    host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos && !validPort(authority.substr(colon + 1))) return false;
    return !host.empty() && std::all_of(host.begin(), host.end(), isHostCharacter);
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "127.0.0.1" || lower == "localhost" || lower == "::1" || lower == "[::1]";
}

EndpointOrigin resolveOrigin(const Environment& environment, std::string_view variable,
                             std::string_view defaultOrigin) {
    const auto configured = environment.value(variable);
    if (!configured || configured->empty()) return {std::string(defaultOrigin), std::nullopt};

    std::string_view text = *configured;
    if (text.ends_with('/')) text.remove_suffix(1);
    const auto invalid = [&] {
        return EndpointOrigin{
            std::string(defaultOrigin),
            "Переменная окружения " + std::string(variable) +
                " задана неверно: нужен адрес вида https://сервер[:порт]; http:// допускается "
                "только для 127.0.0.1, ::1 и localhost."};
    };

    bool secure = false;
    std::string_view authority;
    if (text.starts_with("https://")) {
        secure = true;
        authority = text.substr(8);
    } else if (text.starts_with("http://")) {
        authority = text.substr(7);
    } else {
        return invalid();
    }
    std::string host;
    if (authority.empty() || !splitAuthority(authority, host)) return invalid();
    if (!secure && !isLoopbackHost(host)) return invalid();
    return {std::string(text), std::nullopt};
}

}  // namespace kestrane::platform
