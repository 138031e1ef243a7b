#include "platform/UnicodeText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

TEST(UnicodeTextTest, TellsValidUtf8FromBrokenBytes) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},
        {"ok ж 😀 \xEF\xBF\xBF", true},  // U+FFFF is a noncharacter, not an error
        {"a\xff", false},
        {"\xd0", false},              // cut in the middle
        {"\xc0\xaf", false},          // overlong
        {"\xed\xa0\x80", false},      // surrogate
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(isValidUtf8(text), valid);
    }
}

TEST(UnicodeTextTest, CountsAndCutsUserPerceivedCharacters) {
    EXPECT_EQ(characterCount("жёлтый"), 6u);
    EXPECT_EQ(characterCount("e\xCC\x81x"), 2u);  // e + combining accent is one character
    EXPECT_EQ(characterCount(std::string(1000, 'a'), 241), 241u);
    EXPECT_EQ(characterPrefix("жёлтый", 3), "жёл");
    EXPECT_EQ(characterPrefix("e\xCC\x81x", 1), "e\xCC\x81");
    EXPECT_EQ(characterPrefix("ab", 5), "ab");
}

TEST(UnicodeTextTest, LowerCaseIsTheSameInEveryLocale) {
    const std::pair<const char*, const char*> cases[] = {
        {"Python3.FRAMEWORK", "python3.framework"},
        {"ЖЁЛТЫЙ Node", "жёлтый node"},
        // Not the Turkish rules: I stays i, and İ keeps its dot as a combining mark.
        {"TIME İ", "time i\xCC\x87"},
        {"ΣΟΦΊΑ", "σοφία"},
        {"a\xff", "a\xEF\xBF\xBD"},
    };
    for (const auto& [text, lower] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(lowercased(text), lower);
    }
}

TEST(UnicodeTextTest, EmailsLoseSurroundingSpaceAndCaseOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {" \tUser@Example.COM\n", "user@example.com"},
        // No-break, em and ideographic spaces and the line separator count as white space.
        {"\xC2\xA0Почта@Пример.РФ\xE2\x80\x83\xE3\x80\x80\xE2\x80\xA8", "почта@пример.рф"},
        {"a b@c", "a b@c"},
        {"\r\n", ""},
        {"", ""},
    };
    for (const auto& [email, normalised] : cases) {
        SCOPED_TRACE(email);
        EXPECT_EQ(normalisedEmail(email), normalised);
    }
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

TEST(UnicodeTextTest, RegularExpressionsFindMatchWholeAndCapture) {
    const auto pair = RegularExpression::compile(R"((\w+)=(\d+))");
    ASSERT_TRUE(pair);
    EXPECT_TRUE(pair->isFoundIn("x a=1 y"));
    EXPECT_FALSE(pair->isFoundIn("a=b"));
    EXPECT_EQ(pair->firstMatch("x ключ=1 b=2", 1), "ключ");
    EXPECT_EQ(pair->firstMatch("x a=1 b=2"), "a=1");
    EXPECT_EQ(pair->firstMatch("nothing", 1), std::nullopt);
    EXPECT_EQ(pair->firstMatch("a=1", 3), std::nullopt);  // no such group
    EXPECT_EQ(pair->everyMatch("a=1, b=22 c=x d=333", 2),
              (std::vector<std::string>{"1", "22", "333"}));
    EXPECT_TRUE(pair->everyMatch("", 2).empty());

    const auto name = RegularExpression::compile("^[a-z]{1,3}$");
    ASSERT_TRUE(name);
    EXPECT_TRUE(name->matchesWhole("abc"));
    EXPECT_FALSE(name->matchesWhole("abc\n"));  // a search would take it
    EXPECT_TRUE(name->isFoundIn("abc\n"));
    EXPECT_FALSE(name->matchesWhole("abcd"));
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
