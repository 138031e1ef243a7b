#include "platform/Base64.h"

#include <cstdint>

namespace kestrane::platform {
namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < text.size() && padding < 2 && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    std::string decoded;
    decoded.reserve(text.size() / 4 * 3);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) return std::nullopt;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return decoded;
}

}  // namespace kestrane::platform
