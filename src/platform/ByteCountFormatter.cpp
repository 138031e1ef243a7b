#include "platform/ByteCountFormatter.h"

#include <charconv>
#include <iterator>
#include <string>

namespace kestrane::platform {

namespace {

// `value` with at most `decimals` decimals, trailing zeros dropped. Halves round away from
// zero, as people expect ("2,5 КБ" is "3 КБ"). The value is a dyadic fraction with far fewer
// than 80 decimals, so the long expansion is exact and rounding it by hand is exact too.
std::string rounded(double value, int decimals) {
    char buffer[512];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 80);
    std::string digits(buffer, written.ptr);
    const std::size_t point = digits.find('.');
    const bool up = digits[point + 1 + static_cast<std::size_t>(decimals)] >= '5';
    digits.resize(decimals > 0 ? point + 1 + static_cast<std::size_t>(decimals) : point);
    if (up) {
        std::size_t i = digits.size();
        for (;;) {
            if (i == 0) {
                digits.insert(digits.begin(), '1');
                break;
            }
            --i;
            if (digits[i] == '.') continue;
            if (digits[i] != '9') {
                ++digits[i];
                break;
            }
            digits[i] = '0';
        }
    }
    if (decimals > 0) {
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    return digits;
}

std::string withDecimalComma(std::string number) {
    for (char& character : number) {
        if (character == '.') character = ',';
    }
    return number;
}

}  // namespace

std::string ByteCountFormatter::memory(std::uint64_t bytes) {
    static const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ", "ПБ"};
    if (bytes < 1024) return std::to_string(bytes) + " байт";
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < static_cast<int>(std::size(units)) - 1) {
        value /= 1024;
        ++unit;
    }
    const int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
    return withDecimalComma(rounded(value, decimals)) + ' ' + units[unit];
}

}  // namespace kestrane::platform
