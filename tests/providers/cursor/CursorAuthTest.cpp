#include "providers/cursor/CursorAuth.h"

#include <gtest/gtest.h>

#include <functional>

#include "model/QuotaError.h"
#include "providers/cursor/CursorTestSupport.h"

namespace kestrane::providers {
namespace {

using model::QuotaError;
using testing::base64Url;
using testing::makeJwt;

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const QuotaError& error) {
        return error.what();
    }
    return "no error";
}

TEST(CursorAuthTest, CookieCarriesTheLastUserIdPieceAndTheWholeToken) {
    const std::string token = makeJwt(R"({"sub":"google-oauth2|user_01ABC","exp":1900000000})");
    const CursorAuth auth(token);
    EXPECT_EQ(auth.userID(), "user_01ABC");
    EXPECT_EQ(auth.expiresAt(), platform::Date{1'900'000'000});
    EXPECT_EQ(auth.cookie(), "WorkosCursorSessionToken=user_01ABC%3A%3A" + token);
}

TEST(CursorAuthTest, UserIdIsTheLastNonEmptyPieceOfSub) {
    struct Case {
        const char* sub;
        const char* userID;
    };
    const Case cases[] = {
        {"plain", "plain"},    {"auth0|abc", "abc"}, {"a|b|c", "c"},
        {"auth0|abc|", "abc"}, {"||x||", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sub);
        const std::string claims = std::string(R"({"exp":1,"sub":")") + c.sub + "\"}";
        EXPECT_EQ(CursorAuth(makeJwt(claims)).userID(), c.userID);
    }
}

TEST(CursorAuthTest, MalformedTokensGiveTheirOwnMessages) {
    struct Case {
        const char* name;
        std::string token;
        const char* message;
    };
    const Case cases[] = {
        {"one piece", "abc", "Токен Cursor не является JWT."},
        {"empty", "", "Токен Cursor не является JWT."},
        {"bad base64url", "x.a$b.y", "Не удалось разобрать токен Cursor."},
        {"impossible length", "x.abcde.y", "Не удалось разобрать токен Cursor."},
        {"empty claims", "x..y", "Не удалось разобрать токен Cursor."},
        {"not json", "x." + base64Url("not json") + ".y", "Не удалось разобрать токен Cursor."},
        {"array payload", "x." + base64Url("[1,2]") + ".y", "Не удалось разобрать токен Cursor."},
        {"string payload", "x." + base64Url("\"s\"") + ".y", "Не удалось разобрать токен Cursor."},
        {"no sub", makeJwt(R"({"exp":1900000000})"), "В токене Cursor нет ID пользователя."},
        {"numeric sub", makeJwt(R"({"sub":5,"exp":1900000000})"),
         "В токене Cursor нет ID пользователя."},
        {"only bars", makeJwt(R"({"sub":"||","exp":1900000000})"),
         "В токене Cursor нет ID пользователя."},
        {"line break in user id", makeJwt(R"({"sub":"a|x\r\nX-Evil: 1","exp":1900000000})"),
         "В токене Cursor нет ID пользователя."},
        {"line break in token", makeJwt(R"({"sub":"a|u","exp":1900000000})") + "\r\nX-Evil: 1",
         "Не удалось разобрать токен Cursor."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorOf([&] { (void)CursorAuth(c.token).cookie(); }), c.message);
    }
    EXPECT_EQ(errorOf([] { (void)CursorAuth(makeJwt(R"({"sub":"u"})")).expiresAt(); }),
              "В токене Cursor нет срока действия.");
    EXPECT_EQ(errorOf([] { (void)CursorAuth(makeJwt(R"({"sub":"u","exp":"soon"})")).expiresAt(); }),
              "В токене Cursor нет срока действия.");
}

TEST(CursorAuthTest, TokenMustStayValidForMoreThanAMinute) {
    const platform::Date now{1'800'000'000};
    struct Case {
        double secondsLeft;
        bool accepted;
    };
    const Case cases[] = {{-10, false}, {30, false}, {60, false}, {61, true}, {3600, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondsLeft);
        const auto exp = static_cast<long long>(now.secondsSince1970 + c.secondsLeft);
        const CursorAuth auth(makeJwt(R"({"sub":"u","exp":)" + std::to_string(exp) + "}"));
        EXPECT_EQ(
            errorOf([&] { auth.requireUnexpired(now); }),
            c.accepted ? "no error" : "Сессия Cursor истекла. Откройте Cursor и войдите снова.");
    }
}

}  // namespace
}  // namespace kestrane::providers
