#include "platform/Json.h"

#include <gtest/gtest.h>

namespace kestrane::platform {
namespace {

TEST(JsonTest, IntegerMembersStayInRangeOrFail) {
    struct Case {
        const char* document;
        std::optional<std::int64_t> value;
        bool fails;
    };
    const Case cases[] = {
        {R"({"n": 42})", 42, false},
        {R"({"n": -5})", -5, false},
        {R"({"n": 9223372036854775807})", INT64_MAX, false},
        {R"({"n": 9223372036854775808})", std::nullopt, true},
        {R"({"n": 18446744073709551615})", std::nullopt, true},
        {R"({"n": 3.0})", 3, false},
        {R"({"n": 3.5})", std::nullopt, true},
        {R"({"n": 1e30})", std::nullopt, true},
        {R"({"n": "3"})", std::nullopt, true},
        {R"({"n": null})", std::nullopt, false},
        {R"({})", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const Json document = parseJson(c.document);
        if (c.fails) {
            EXPECT_THROW(integerMember(document, "n"), DecodingError);
        } else {
            EXPECT_EQ(integerMember(document, "n"), c.value);
        }
    }
}

TEST(JsonTest, RefusesInvalidTextAndExcessiveNesting) {
    for (const std::string& text :
         {std::string("{"), std::string("\xff"), std::string("{\"a\":\"\xc3\"}"),
          std::string(129, '[') + std::string(129, ']')}) {
        SCOPED_TRACE(text.substr(0, 20));
        EXPECT_THROW(parseJson(text), DecodingError);
    }
    EXPECT_NO_THROW(parseJson(std::string(128, '[') + std::string(128, ']')));
    // Brackets inside strings do not count as nesting.
    EXPECT_NO_THROW(parseJson("\"" + std::string(1000, '[') + "\""));
}

}  // namespace
}  // namespace kestrane::platform
