#include "model/OutsideText.h"

#include <gtest/gtest.h>

#include "model/FetchResult.h"

namespace kestrane::model {
namespace {

TEST(OutsideTextTest, ControlCharactersBecomeOneSpaceAndTheEndsAreTrimmed) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"Opus", "Opus"},
        {"Evil\nKimi OK: 100%", "Evil Kimi OK: 100%"},
        {"a\r\n\tb", "a b"},
        {"\x1b[2Jclear", "[2Jclear"},
        {"a\x7f"
         "b",
         "a b"},
        {"a\xc2\x85"
         "b\xc2\x9b"
         "c",
         "a b c"},  // NEL and CSI from the C1 block
        {"a\xe2\x80\xa8"
         "b\xe2\x80\xa9",
         "a b"},  // line and paragraph separators
        {"  spaced   out  ", "spaced out"},
        {"Сессия\x01Недельный", "Сессия Недельный"},
        {"\xc2\xa0kept", "\xc2\xa0kept"},  // a no-break space is text, not a control
        {"bad\xff"
         "byte",
         "bad\xef\xbf\xbd"
         "byte"},
        {"\n\r\x1b", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
        EXPECT_EQ(sanitizedText(c.input), c.expected);
        EXPECT_EQ(sanitizedText(sanitizedText(c.input)), c.expected);
    }
}

TEST(OutsideTextTest, EveryOutsideTextOfAUsageIsSanitised) {
    ProviderUsage usage{.provider = ProviderKind::codex,
                        .email = "me@x\n",
                        .plan = "Pro\x1b]0;t\x07",
                        .windows = {{"id\n", "name\r\nforged", 5, 300, std::nullopt}},
                        .currency = "US\nD",
                        .recentModels = {{"m\n1", 1, platform::Date{0}}}};
    const auto clean = sanitized(usage);
    EXPECT_EQ(clean.email, "me@x");
    EXPECT_EQ(clean.plan, "Pro ]0;t");
    EXPECT_EQ(clean.windows[0].id, "id");
    EXPECT_EQ(clean.windows[0].name, "name forged");
    EXPECT_EQ(clean.currency, "US D");
    EXPECT_EQ(clean.recentModels[0].model, "m 1");
    EXPECT_EQ(FetchResult::failure(ProviderKind::codex, "line\nbreak").failureValue().message,
              "line break");
}

}  // namespace
}  // namespace kestrane::model
