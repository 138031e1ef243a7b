#include "platform/Iso8601.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(Iso8601Test, ParsesInternetDateTimes) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"2025-01-01T10:00:00Z", 1'735'725'600},
        {"2025-01-01T10:00:00.123Z", 1'735'725'600.123},
        {"2025-01-01T13:00:00+03:00", 1'735'725'600},
        {"2025-01-01T05:00:00-0500", 1'735'725'600},
        {"1970-01-01T00:00:00Z", 0},
        {"2024-02-29T00:00:00Z", 1'709'164'800},
        {"2025-02-29T00:00:00Z", std::nullopt},
        {"2025-01-01 10:00:00Z", std::nullopt},
        {"2025-01-01T10:00:00", std::nullopt},
        {"2025-01-01T25:00:00Z", std::nullopt},
        {"2025-01-01T10:00:00.Z", std::nullopt},
        {"2025-01-01T10:00:00Zjunk", std::nullopt},
        {"", std::nullopt},
        {"tomorrow", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseInternetDateTime(c.text);
        ASSERT_EQ(parsed.has_value(), c.seconds.has_value());
        if (parsed) {
            EXPECT_NEAR(parsed->secondsSince1970, *c.seconds, 1e-6);
        }
    }
}

TEST(Iso8601Test, FractionOptionIsStrictEitherWay) {
    EXPECT_FALSE(parseInternetDateTime("2025-01-01T10:00:00Z", true));
    EXPECT_FALSE(parseInternetDateTime("2025-01-01T10:00:00.5Z", false));
}

}  // namespace
}  // namespace kestrane::platform
