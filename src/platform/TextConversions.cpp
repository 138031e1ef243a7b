#include "platform/TextConversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestrane::platform {
namespace {

// ASCII only: the C library's versions follow the locale, and in some a byte of a UTF-8
// sequence is a letter or a space.
bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<double> parseDecimalNumber(std::string_view text) {
    // Checked by hand first: std::from_chars would also take "inf", "nan" and a bare "1e".
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t begin = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - begin;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissaDigits = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    // from_chars takes a leading minus but not a plus.
    const std::string_view number = text.starts_with('+') ? text.substr(1) : text;
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string capitalisedWords(std::string_view text) {
    std::string result(text);
    bool wordStart = true;
    for (char& c : result) {
        if (isAsciiSpace(c)) {
            wordStart = true;
            continue;
        }
        c = wordStart ? asciiUpper(c) : asciiLower(c);
        wordStart = false;
    }
    return result;
}

std::string asciiUppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = asciiUpper(c);
    return result;
}

bool isVisibleAsciiToken(std::string_view text, std::size_t maxBytes) {
    return !text.empty() && text.size() <= maxBytes &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool hasNoControlBytes(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte != 0x7F;
    });
}

bool isPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::optional<std::int64_t> wholeInteger(double value) {
    constexpr double limit = 0x1p63;
    if (std::trunc(value) != value || value < -limit || value >= limit) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

}  // namespace kestrane::platform
