#include "platform/UnicodeText.h"

#include <gtest/gtest.h>

#include "platform/RegularExpression.h"
#include "platform/WallClockConverter.h"

namespace kestrane::platform {
namespace {

TEST(UnicodeTextTest, DecodesBrokenUtf8WithReplacementCharacters) {
    const std::string valid = "ok ж 😀";
    EXPECT_EQ(decodeUtf8Leniently(valid), valid);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(decodeUtf8Leniently("a\xff"
                                  "b"),
              "a" + r + "b");
    EXPECT_EQ(decodeUtf8Leniently("\xd0"), r);                  // cut in the middle
    EXPECT_EQ(decodeUtf8Leniently("\xc0\xaf"), r + r);          // overlong
    EXPECT_EQ(decodeUtf8Leniently("\xed\xa0\x80"), r + r + r);  // surrogate
}

TEST(UnicodeTextTest, CountsAndCutsUserPerceivedCharacters) {
    EXPECT_EQ(characterCount("жёлтый"), 6u);
    EXPECT_EQ(characterCount("e\xCC\x81x"), 2u);  // e + combining accent is one character
    EXPECT_EQ(characterCount(std::string(1000, 'a'), 241), 241u);
    EXPECT_EQ(characterPrefix("жёлтый", 3), "жёл");
    EXPECT_EQ(characterPrefix("e\xCC\x81x", 1), "e\xCC\x81");
    EXPECT_EQ(characterPrefix("ab", 5), "ab");
    EXPECT_EQ(lowercased("Python3.FRAMEWORK"), "python3.framework");
    EXPECT_EQ(lowercased("ЖЁЛТЫЙ Node"), "жёлтый node");
}

TEST(UnicodeTextTest, CollatorIgnoresCaseOnly) {
    const CaseInsensitiveCollator collator;
    EXPECT_EQ(collator.compare("Node", "node"), 0);
    EXPECT_LT(collator.compare("alpha", "Beta"), 0);
    EXPECT_GT(collator.compare("zeta", "Beta"), 0);
}

TEST(UnicodeTextTest, RegularExpressionsReplaceWithGroups) {
    const auto pattern = RegularExpression::compile(R"((?i)(\bkey=)(\S+))");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->replacingMatches("a KEY=1 xkey=2 key=ж", "$1*"), "a KEY=* xkey=2 key=*");
    EXPECT_FALSE(RegularExpression::compile("(unclosed"));
}

TEST(UnicodeTextTest, WallClockReadingsUseTheCalendarZoneStrictly) {
    WallClockConverter kolkata(Calendar("Asia/Kolkata"));
    EXPECT_EQ(kolkata.date(2026, 1, 5, 9, 3, 7), Date{1767603787 - 19800});
    EXPECT_EQ(kolkata.date(2026, 2, 30, 10, 0, 0), std::nullopt);

    WallClockConverter berlin(Calendar("Europe/Berlin"));
    EXPECT_EQ(berlin.date(2026, 3, 29, 2, 30, 0), std::nullopt);       // skipped by the change
    EXPECT_EQ(berlin.date(2026, 10, 25, 2, 30, 0), Date{1792891800});  // the later of the two
}

}  // namespace
}  // namespace kestrane::platform
