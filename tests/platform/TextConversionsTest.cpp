#include "platform/TextConversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>

namespace kestrane::platform {
namespace {

TEST(TextConversionsTest, DecimalNumbersAreReadStrictly) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"25", 25},
        {"-2.5", -2.5},
        {"+4", 4},
        {".5", 0.5},
        {"5.", 5},
        {"1e3", 1000},
        {"1.5E-1", 0.15},
        {"", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"0x10", std::nullopt},
        {"1e", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e400", std::nullopt},
        {"1,5", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimalNumber(c.text), c.value);
    }
}

TEST(TextConversionsTest, WholeIntegersAreTheWholeDoublesOfTheInt64Range) {
    struct Case {
        double value;
        std::optional<std::int64_t> integer;
    };
    const Case cases[] = {
        {0.0, 0},
        {-0.0, 0},
        {300.0, 300},
        {-7.0, -7},
        {1.5, std::nullopt},
        {-0.5, std::nullopt},
        // The whole doubles next to both ends of the range.
        {9223372036854774784.0, 9223372036854774784},
        {9223372036854775808.0, std::nullopt},
        {-9223372036854775808.0, INT64_MIN},
        {-9223372036854777856.0, std::nullopt},
        {1e19, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {-std::numeric_limits<double>::infinity(), std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(wholeInteger(c.value), c.integer);
    }
}

TEST(TextConversionsTest, CapitalisedWords) {
    struct Case {
        const char* text;
        const char* capitalised;
    };
    const Case cases[] = {
        {"pro", "Pro"},
        {"team premium", "Team Premium"},
        {"ULTRA", "Ultra"},
        {"free_trial", "Free_trial"},
        {"  two   spaces", "  Two   Spaces"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(capitalisedWords(c.text), c.capitalised);
    }
}

TEST(TextConversionsTest, AsciiUpperCaseLeavesOtherBytesAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"time_unit_minute", "TIME_UNIT_MINUTE"},
        {"usd", "USD"},
        {"ёж i", "ёж I"},
        {"\xff", "\xff"},
        {"", ""},
    };
    for (const auto& [text, upper] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(asciiUppercased(text), upper);
    }
}

}  // namespace
TEST(TextConversionsTest, VisibleAsciiTokensCannotBreakAHeaderLine) {
    const struct {
        std::string_view text;
        std::size_t maxBytes;
        bool accepted;
    } cases[] = {
        {"gho_abc123", 64, true},  {"ya29.a0-_~+/=", 64, true}, {"", 64, false},
        {"with space", 64, false}, {"line\r\nX: 1", 64, false}, {"tab\there", 64, false},
        {"\x7f", 64, false},       {"ключ", 64, false},         {"12345", 5, true},
        {"123456", 5, false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(std::string(testCase.text));
        EXPECT_EQ(isVisibleAsciiToken(testCase.text, testCase.maxBytes), testCase.accepted);
    }
}

}  // namespace kestrane::platform
