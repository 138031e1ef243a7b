#include "providers/cursor/CursorClient.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "model/QuotaError.h"
#include "platform/Files.h"
#include "providers/cursor/CursorTestSupport.h"
#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/Fixtures.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Date;

constexpr double kNow = 1'765'000'000;
const Date kCycleEnd{1'738'368'000};  // 2025-02-01T00:00:00Z

std::string readFixture(const std::string& name) { return testing::fixture("cursor/" + name); }

std::string tokenExpiringIn(double seconds) {
    return testing::makeJwt(R"({"sub":"auth0|user_42","exp":)" +
                            std::to_string(static_cast<long long>(kNow + seconds)) + "}");
}

using testing::errorOf;

// ---- the state database -------------------------------------------------------------------

TEST(CursorStateDatabaseTest, LivesUnderTheUserConfigurationFolder) {
    const platform::MapEnvironment plain({}, "/home/ann");
    EXPECT_EQ(CursorClient::stateDatabasePath(plain),
              "/home/ann/.config/Cursor/User/globalStorage/state.vscdb");
    const platform::MapEnvironment xdg({{"XDG_CONFIG_HOME", "/srv/conf"}}, "/home/ann");
    EXPECT_EQ(CursorClient::stateDatabasePath(xdg),
              "/srv/conf/Cursor/User/globalStorage/state.vscdb");
    // Relative values are invalid by the base-directory rules.
    const platform::MapEnvironment relative({{"XDG_CONFIG_HOME", "conf"}}, "/home/ann");
    EXPECT_EQ(CursorClient::stateDatabasePath(relative),
              "/home/ann/.config/Cursor/User/globalStorage/state.vscdb");
}

TEST(CursorStateDatabaseTest, ReadsTheTokenOrSaysWhatIsMissing) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
        const char* outcome;
    };
    const Case cases[] = {
        {"missing file", [](const auto&) {}, "Cursor не найден или в нем еще не выполнен вход."},
        {"no row", [](const auto& p) { testing::makeStateDatabase(p, std::nullopt); },
         "В Cursor нет активной сессии."},
        {"null value", [](const auto& p) { testing::makeStateDatabase(p, std::nullopt, true); },
         "В Cursor нет активной сессии."},
        {"empty token", [](const auto& p) { testing::makeStateDatabase(p, ""); },
         "Сессия Cursor пуста."},
        {"token", [](const auto& p) { testing::makeStateDatabase(p, "a.b.c"); }, "a.b.c"},
        {"not sqlite",
         [](const auto& p) {
             std::filesystem::create_directories(p.parent_path());
             std::ofstream(p) << std::string(4096, 'x');
         },
         "Не удалось подготовить чтение сессии Cursor."},
        {"other schema",
         [](const auto& p) {
             sqlite3* db = nullptr;
             sqlite3_open(p.c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE Other (key TEXT, value BLOB);", nullptr, nullptr,
                          nullptr);
             sqlite3_close(db);
         },
         "Не удалось подготовить чтение сессии Cursor."},
        {"directory", [](const auto& p) { std::filesystem::create_directories(p); },
         "Не удалось прочитать локальную сессию Cursor."},
        {"huge value",
         [](const auto& p) { testing::makeStateDatabase(p, std::string(100'000, 'a')); },
         "Не удалось разобрать токен Cursor."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDirectory folder;
        const auto path = folder.path() / "state.vscdb";
        c.make(path);
        std::string outcome;
        try {
            outcome = CursorClient::readAccessToken(path);
        } catch (const QuotaError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

TEST(CursorStateDatabaseTest, LeavesTheEditorsFileUntouched) {
    const testing::TempDirectory folder;
    const auto path = folder.path() / "state.vscdb";
    testing::makeStateDatabase(path, "a.b.c");
    const auto before = platform::readFile(path, 1 << 20);
    EXPECT_EQ(CursorClient::readAccessToken(path), "a.b.c");
    EXPECT_EQ(platform::readFile(path, 1 << 20), before);
    // No journal or WAL file appears next to it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(CursorStateDatabaseTest, DatabaseLockedByTheEditorIsAReadFailureNotASignOut) {
    const testing::TempDirectory folder;
    const auto path = folder.path() / "state.vscdb";
    testing::makeStateDatabase(path, "a.b.c");
    sqlite3* editor = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &editor), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(editor, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto message = errorOf([&] { CursorClient::readAccessToken(path); });
    sqlite3_exec(editor, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(editor);
    EXPECT_TRUE(message == "Не удалось подготовить чтение сессии Cursor." ||
                message == "Не удалось прочитать локальную сессию Cursor.")
        << message;
}

// ---- the usage summary --------------------------------------------------------------------

TEST(CursorSummaryTest, ThreeWindowsSpendingAndPlanFromAFullSummary) {
    const auto usage = CursorClient::parseSummary(readFixture("summary_three_windows.json"),
                                                  "ann@example.com", Date{kNow});
    const ProviderUsage expected{
        .provider = model::ProviderKind::cursor,
        .email = "ann@example.com",
        .plan = "Cursor Pro",
        .windows = {{"cursor-total", "Всего", 42.5, 44640, kCycleEnd},
                    {"cursor-auto", "Auto + Composer", 30, 44640, kCycleEnd},
                    {"cursor-api", "Named models / API", 80, 44640, kCycleEnd}},
        .spendUsed = 12.34,
        .spendLimit = 50,
        .currency = "USD",
        .updatedAt = Date{kNow},
    };
    EXPECT_EQ(usage, expected);
}

TEST(CursorSummaryTest, TotalFallsBackThroughPercentagesAndCounters) {
    struct Case {
        const char* name;
        const char* summary;
        double total;
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"auto and api averaged",
         R"({"individualUsage":{"plan":{"autoPercentUsed":30,"apiPercentUsed":80}}})",
         55,
         {"cursor-total", "cursor-auto", "cursor-api"}},
        {"auto alone",
         R"({"individualUsage":{"plan":{"autoPercentUsed":30}}})",
         30,
         {"cursor-total", "cursor-auto"}},
        {"api alone",
         R"({"individualUsage":{"plan":{"apiPercentUsed":12.5}}})",
         12.5,
         {"cursor-total", "cursor-api"}},
        {"plan counters",
         R"({"individualUsage":{"plan":{"used":250,"limit":500}}})",
         50,
         {"cursor-total"}},
        {"overall counters",
         R"({"individualUsage":{"overall":{"used":30,"limit":120}}})",
         25,
         {"cursor-total"}},
        {"team pooled, clamped",
         R"({"teamUsage":{"pooled":{"used":2000,"limit":1000}}})",
         100,
         {"cursor-total"}},
        {"first present counter of each kind",
         R"({"individualUsage":{"plan":{"used":10},"overall":{"used":99,"limit":40}},
             "teamUsage":{"pooled":{"used":1,"limit":1}}})",
         25,
         {"cursor-total"}},
        {"on-demand never counts",
         R"({"individualUsage":{"onDemand":{"used":500,"limit":1000}}})",
         0,
         {"cursor-total"}},
        {"zero limit", R"({"individualUsage":{"plan":{"used":5,"limit":0}}})", 0, {"cursor-total"}},
        {"nothing", "{}", 0, {"cursor-total"}},
        {"over 100 clamped",
         R"({"individualUsage":{"plan":{"totalPercentUsed":140,"autoPercentUsed":-3}}})",
         100,
         {"cursor-total", "cursor-auto"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage = CursorClient::parseSummary(c.summary, std::nullopt, Date{kNow});
        ASSERT_FALSE(usage.windows.empty());
        EXPECT_DOUBLE_EQ(usage.windows[0].usedPercent, c.total);
        std::vector<std::string> ids;
        for (const auto& window : usage.windows) {
            ids.push_back(window.id);
            EXPECT_GE(window.usedPercent, 0);
            EXPECT_LE(window.usedPercent, 100);
        }
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(usage.windows[0].durationMinutes, std::nullopt);
    }
}

TEST(CursorSummaryTest, SpendingInDollarsFromCents) {
    struct Case {
        const char* onDemand;
        std::optional<double> used, limit;
        std::optional<std::string> currency;
    };
    const Case cases[] = {
        {R"({"used":1234,"limit":5000})", 12.34, 50, "USD"},
        {R"({"used":0})", 0, std::nullopt, "USD"},
        {R"({"limit":2500})", std::nullopt, 25, "USD"},
        {R"({"enabled":false})", std::nullopt, std::nullopt, std::nullopt},
        {"null", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.onDemand);
        const auto usage = CursorClient::parseSummary(
            std::string(R"({"individualUsage":{"onDemand":)") + c.onDemand + "}}", std::nullopt,
            Date{kNow});
        EXPECT_EQ(usage.spendUsed, c.used);
        EXPECT_EQ(usage.spendLimit, c.limit);
        EXPECT_EQ(usage.currency, c.currency);
    }
}

TEST(CursorSummaryTest, BillingCycleGivesDurationAndReset) {
    struct Case {
        const char* start;
        const char* end;
        std::optional<std::int64_t> minutes;
        std::optional<Date> resetsAt;
    };
    const Case cases[] = {
        {"2025-01-01T00:00:00.000Z", "2025-02-01T00:00:00.000Z", 44640, kCycleEnd},
        {"2025-01-01T00:00:00Z", "2025-02-01T00:00:00Z", 44640, kCycleEnd},
        {"2025-01-01T00:00:00Z", "2025-01-01T00:01:59.900Z", 1, Date{1'735'689'719.9}},
        {"2025-02-01T00:00:00Z", "2025-01-01T00:00:00Z", 0, Date{1'735'689'600}},
        {"garbage", "2025-02-01T00:00:00Z", std::nullopt, kCycleEnd},
        {"2025-01-01T00:00:00Z", "", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " .. " + c.end);
        const auto usage = CursorClient::parseSummary(
            std::string(R"({"billingCycleStart":")") + c.start + R"(","billingCycleEnd":")" +
                c.end + R"(","individualUsage":{"plan":{"autoPercentUsed":1}}})",
            std::nullopt, Date{kNow});
        for (const auto& window : usage.windows) {
            EXPECT_EQ(window.durationMinutes, c.minutes);
            ASSERT_EQ(window.resetsAt.has_value(), c.resetsAt.has_value());
            if (c.resetsAt) {
                EXPECT_NEAR(window.resetsAt->secondsSince1970, c.resetsAt->secondsSince1970, 1e-3);
            }
        }
    }
}

TEST(CursorSummaryTest, MembershipBecomesThePlanName) {
    EXPECT_EQ(CursorClient::prettyMembership("pro"), "Cursor Pro");
    EXPECT_EQ(CursorClient::prettyMembership("FREE_TRIAL"), "Cursor Free_trial");
    EXPECT_EQ(CursorClient::prettyMembership("ultra plus"), "Cursor Ultra Plus");
    EXPECT_EQ(CursorClient::prettyMembership(""), std::nullopt);
    EXPECT_EQ(CursorClient::prettyMembership(std::nullopt), std::nullopt);
}

TEST(CursorSummaryTest, WronglyTypedMembersAreDecodingErrors) {
    for (const char* body :
         {R"({"membershipType":5})", R"({"individualUsage":{"plan":{"used":"5"}}})",
          R"({"individualUsage":{"onDemand":{"used":1.5}}})", "[]", "not json"}) {
        SCOPED_TRACE(body);
        EXPECT_THROW(CursorClient::parseSummary(body, std::nullopt, Date{kNow}),
                     platform::DecodingError);
    }
    EXPECT_EQ(CursorClient::parseAccountEmail(R"({"email":"a@b.c","name":"A"})"), "a@b.c");
    EXPECT_EQ(CursorClient::parseAccountEmail(R"({"email":7})"), std::nullopt);
    EXPECT_EQ(CursorClient::parseAccountEmail("<html>"), std::nullopt);
}

// ---- fetching from the dashboard ----------------------------------------------------------

class CursorClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.server().Get("/api/usage-summary", [this](const auto& request, auto& response) {
            record(request);
            response.status = summaryStatus;
            response.set_content(summaryBody, "application/json");
        });
        server.server().Get("/api/auth/me", [this](const auto& request, auto& response) {
            record(request);
            response.status = accountStatus;
            response.set_content(R"({"email":"ann@example.com"})", "application/json");
        });
        server.start();
    }

    void record(const httplib::Request& request) {
        const std::lock_guard lock(mutex);
        ++requests;
        cookies.push_back(request.get_header_value("Cookie"));
        accepts.push_back(request.get_header_value("Accept"));
    }

    void storeToken(const std::string& token) {
        testing::makeStateDatabase(home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                                   token);
    }

    model::ProviderUsage fetch() {
        const platform::MapEnvironment environment(
            {{std::string(CursorClient::originVariable), server.origin()}}, home.path());
        return CursorClient(environment, clock).fetch();
    }

    testing::TempDirectory home;
    testing::FakeHttpServer server;
    testing::FixedClock clock{Date{kNow}};
    std::mutex mutex;
    int requests = 0;
    std::vector<std::string> cookies;
    std::vector<std::string> accepts;
    int summaryStatus = 200;
    int accountStatus = 200;
    std::string summaryBody = readFixture("summary_three_windows.json");
};

TEST_F(CursorClientTest, FetchSendsTheSessionCookieAndBuildsTheUsage) {
    const std::string token = tokenExpiringIn(3600);
    storeToken(token);
    const auto usage = fetch();
    EXPECT_EQ(usage.email, "ann@example.com");
    EXPECT_EQ(usage.plan, "Cursor Pro");
    ASSERT_EQ(usage.windows.size(), 3u);
    EXPECT_EQ(usage.updatedAt, Date{kNow});
    EXPECT_EQ(requests, 2);
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        // The server library decodes percent escapes in header values, so the "%3A%3A" we
        // send arrives as "::" (the exact text is checked with CursorAuth).
        EXPECT_EQ(cookies[i], "WorkosCursorSessionToken=user_42::" + token);
        EXPECT_EQ(accepts[i], "application/json");
    }
}

TEST_F(CursorClientTest, StatusesOfTheSummaryAndTheAccount) {
    storeToken(tokenExpiringIn(3600));
    struct Case {
        int summary;
        int account;
        const char* outcome;
    };
    const Case cases[] = {
        {401, 200, "Сессия Cursor истекла. Откройте Cursor и войдите снова."},
        {403, 200, "Сессия Cursor истекла. Откройте Cursor и войдите снова."},
        {500, 200, "Cursor API: HTTP 500."},
        {302, 200, "Cursor API: HTTP 302."},
        {200, 500, "no e-mail"},
        {200, 401, "no e-mail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.summary) + "/" + std::to_string(c.account));
        summaryStatus = c.summary;
        accountStatus = c.account;
        std::string outcome;
        try {
            const auto usage = fetch();
            outcome = usage.email ? *usage.email : "no e-mail";
            EXPECT_EQ(usage.windows.size(), 3u);
        } catch (const QuotaError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

TEST_F(CursorClientTest, SummaryThatIsNotJsonPassesTheDecodingErrorThrough) {
    storeToken(tokenExpiringIn(3600));
    summaryBody = "<html>maintenance</html>";
    EXPECT_THROW(fetch(), platform::DecodingError);
}

TEST_F(CursorClientTest, TokenExpiringWithinAMinuteIsRefusedBeforeAnyRequest) {
    storeToken(tokenExpiringIn(30));
    EXPECT_EQ(errorOf([&] { fetch(); }), "Сессия Cursor истекла. Откройте Cursor и войдите снова.");
    EXPECT_EQ(requests, 0);
}

TEST_F(CursorClientTest, InvalidOriginOverrideNamesTheVariable) {
    storeToken(tokenExpiringIn(3600));
    const platform::MapEnvironment environment(
        {{std::string(CursorClient::originVariable), "http://example.com"}}, home.path());
    const auto message = errorOf([&] { CursorClient(environment, clock).fetch(); });
    EXPECT_NE(message.find("KESTRANE_CURSOR_ORIGIN"), std::string::npos) << message;
    EXPECT_EQ(requests, 0);
}

TEST(CursorClientConcurrencyTest, SummaryAndAccountAreInFlightTogether) {
    // The summary answers only once the account request has arrived, which can only happen
    // when both were sent without waiting for each other.
    testing::FakeHttpServer server;
    std::mutex mutex;
    std::condition_variable arrived;
    bool accountArrived = false;
    bool summarySawAccount = false;
    server.server().Get("/api/auth/me", [&](const auto&, auto& response) {
        {
            const std::lock_guard lock(mutex);
            accountArrived = true;
        }
        arrived.notify_all();
        response.set_content(R"({"email":"ann@example.com"})", "application/json");
    });
    server.server().Get("/api/usage-summary", [&](const auto&, auto& response) {
        std::unique_lock lock(mutex);
        summarySawAccount =
            arrived.wait_for(lock, std::chrono::seconds(8), [&] { return accountArrived; });
        response.set_content("{}", "application/json");
    });
    server.start();

    const testing::TempDirectory home;
    testing::makeStateDatabase(home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                               tokenExpiringIn(3600));
    const platform::MapEnvironment environment(
        {{std::string(CursorClient::originVariable), server.origin()}}, home.path());
    const testing::FixedClock clock{Date{kNow}};
    const auto usage = CursorClient(environment, clock).fetch();
    EXPECT_TRUE(summarySawAccount);
    EXPECT_EQ(usage.email, "ann@example.com");
}

// ---- the whole program --------------------------------------------------------------------

TEST(CursorProbeTest, ProbePrintsTheWindowsWithoutTheToken) {
    testing::FakeHttpServer server;
    server.server().Get("/api/usage-summary", [](const auto&, auto& response) {
        response.set_content(readFixture("summary_three_windows.json"), "application/json");
    });
    server.server().Get("/api/auth/me", [](const auto&, auto& response) { response.status = 500; });
    server.start();
    const testing::TempDirectory home;
    // Far in the future: the program reads the real clock.
    const std::string token = testing::makeJwt(R"({"sub":"auth0|user_42","exp":4102444800})");
    testing::makeStateDatabase(home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                               token);

    const auto output = testing::runProcess(
        testing::kestraneExecutable(), {"--probe", "cursor"},
        {{"HOME", home.path().string()}, {"KESTRANE_CURSOR_ORIGIN", server.origin()}});
    EXPECT_EQ(output.exitStatus, 0);
    EXPECT_EQ(output.standardOutput,
              "Cursor OK: Всего - Месячный=43%, Auto + Composer - Месячный=30%, "
              "Named models / API - Месячный=80%\n");
    EXPECT_EQ(output.standardError, "");
    EXPECT_EQ(output.standardOutput.find("user_42"), std::string::npos);
}

TEST(CursorProbeTest, ProbeReportsAMissingEditor) {
    const testing::TempDirectory home;
    const auto output = testing::runProcess(testing::kestraneExecutable(), {"--probe", "cursor"},
                                            {{"HOME", home.path().string()}});
    EXPECT_EQ(output.exitStatus, 1);
    EXPECT_EQ(output.standardOutput,
              "Cursor ERROR: Cursor не найден или в нем еще не выполнен вход.\n");
    EXPECT_EQ(output.standardError, "");
}

}  // namespace
}  // namespace kestrane::providers
