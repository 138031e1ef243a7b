#include "localservices/LocalServiceCommandDisplay.h"

#include <gtest/gtest.h>

#include "platform/UnicodeText.h"

namespace kestrane::localservices {
namespace {

TEST(LocalServiceCommandDisplayTest, ReadableNameIsTheProgramFileName) {
    EXPECT_EQ(LocalServiceCommandDisplay::readableName("/usr/local/bin/node server.js", "x"),
              "node");
    EXPECT_EQ(LocalServiceCommandDisplay::readableName("  vite --port 5173", "x"), "vite");
    EXPECT_EQ(LocalServiceCommandDisplay::readableName("", "kestrane_test_l"), "kestrane_test_l");
    EXPECT_EQ(LocalServiceCommandDisplay::readableName(" \t ", "node"), "node");
}

TEST(LocalServiceCommandDisplayTest, MasksSecretsButKeepsTheirNames) {
    struct Case {
        const char* command;
        const char* shown;
    };
    const Case cases[] = {
        {"node app.js --token abc123 --port 3000", "node app.js --token [скрыто] --port 3000"},
        {"app --api-key=k1 -password s3cret", "app --api-key=[скрыто] -password [скрыто]"},
        {"app --Access_Token=xyz", "app --Access_Token=[скрыто]"},
        {"env OPENAI_API_KEY=sk-live-1 node x", "env OPENAI_API_KEY=[скрыто] node x"},
        {"env GITHUB_TOKEN=ghp_1 node x", "env GITHUB_TOKEN=[скрыто] node x"},
        {"curl -H Authorization: Bearer eyJhbGci.x.y url",
         "curl -H Authorization: Bearer [скрыто] url"},
        {"app secret\tvalue", "app secret\t[скрыто]"},
        {"node server.js --port 3000", "node server.js --port 3000"},
        // Case folding reaches beyond ASCII: the long s is an s, the Kelvin sign a k.
        {"app \u017Fecret=x API_\u212AEY=y", "app \u017Fecret=[скрыто] API_\u212AEY=[скрыто]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(LocalServiceCommandDisplay::redact(c.command), c.shown);
    }
}

TEST(LocalServiceCommandDisplayTest, CutsLongCommandsByCharacters) {
    const std::string ascii(300, 'a');
    const auto shown = LocalServiceCommandDisplay::redact(ascii);
    EXPECT_EQ(shown, std::string(237, 'a') + "...");

    std::string exact(240, 'b');
    EXPECT_EQ(LocalServiceCommandDisplay::redact(exact), exact);

    // 200 Cyrillic letters take 400 bytes but are well within the limit...
    std::string cyrillic;
    for (int i = 0; i < 200; ++i) cyrillic += "ж";
    EXPECT_EQ(LocalServiceCommandDisplay::redact(cyrillic), cyrillic);
    // ...and 300 of them are cut between letters, never inside one.
    for (int i = 0; i < 100; ++i) cyrillic += "ж";
    const auto cut = LocalServiceCommandDisplay::redact(cyrillic);
    EXPECT_EQ(platform::characterCount(cut), 240u);
    EXPECT_EQ(cut.size(), 237u * 2 + 3);
    EXPECT_TRUE(cut.ends_with("ж..."));
}

TEST(LocalServiceCommandDisplayTest, SurvivesHugeAndBrokenCommands) {
    std::string huge = "node --token ";
    huge += std::string(100'000, 'A');
    huge += " API_KEY=" + std::string(50'000, '_');
    const auto shown = LocalServiceCommandDisplay::redact(huge);
    EXPECT_EQ(shown, "node --token [скрыто] API_KEY=[скрыто]");

    const auto words = LocalServiceCommandDisplay::redact(std::string(100'000, 'x'));
    EXPECT_EQ(platform::characterCount(words), 240u);

    // Invalid UTF-8 is shown as replacement characters, not dropped or passed through.
    EXPECT_EQ(LocalServiceCommandDisplay::redact("run \xff\xfe --secret \xc3"),
              "run \xEF\xBF\xBD\xEF\xBF\xBD --secret [скрыто]");
}

}  // namespace
}  // namespace kestrane::localservices
