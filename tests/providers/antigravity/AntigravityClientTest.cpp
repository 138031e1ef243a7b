#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "model/QuotaError.h"
#include "platform/Files.h"
#include "platform/Json.h"
#include "providers/antigravity/AntigravityClient.h"
#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::QuotaError;
using platform::Date;
using Endpoint = AntigravityClient::Endpoint;

constexpr Date kNow{1'765'000'000};

std::string fixture(const std::string& name) {
    return platform::readFile(std::string(KESTRANE_FIXTURES) + "/antigravity/" + name, 1 << 20)
        .value_or("");
}

// The message of the QuotaError `action` throws; "" when it throws nothing or something else.
template <typename Action>
std::string quotaMessage(Action action) {
    try {
        action();
    } catch (const QuotaError& error) {
        return error.what();
    } catch (...) {
        return "(other error)";
    }
    return "(no error)";
}

TEST(AntigravityClientTest, SummaryGivesOneWindowPerBucketMostUsedFirst) {
    const auto usage = AntigravityClient::parseQuotaSummary(fixture("summary.json"),
                                                            fixture("user_status.json"), kNow);
    EXPECT_EQ(usage.provider, model::ProviderKind::antigravity);
    EXPECT_EQ(usage.email, "dev@example.com");
    EXPECT_EQ(usage.plan, "Pro");
    EXPECT_EQ(usage.updatedAt, kNow);
    EXPECT_EQ(usage.windows,
              (std::vector<LimitWindow>{
                  {"antigravity-gemini-weekly-gemini", "Gemini", 75, 10080, Date{1765324800}},
                  {"antigravity-claude-gpt-session", "Claude + GPT", 50, 300, std::nullopt},
                  {"antigravity-gemini-five-hour", "Gemini", 12.5, 300, Date{1765015200.5}},
              }));
    // Without the user status there is simply no account.
    const auto anonymous =
        AntigravityClient::parseQuotaSummary(fixture("summary.json"), std::nullopt, kNow);
    EXPECT_EQ(anonymous.email, std::nullopt);
    EXPECT_EQ(anonymous.windows, usage.windows);
    EXPECT_EQ(AntigravityClient::parseQuotaSummary(fixture("summary.json"), "not json", kNow).plan,
              std::nullopt);
}

TEST(AntigravityClientTest, SummaryBucketsReadLeniently) {
    struct Case {
        const char* name;
        const char* groups;
        std::vector<LimitWindow> windows;
    };
    const Case cases[] = {
        {"bucket without a period keeps its name",
         R"([{"buckets":[{"bucketId":"Daily Pool","remainingFraction":"0.4"}]}])",
         {{"antigravity-лимит-daily-pool", "Лимит Daily Pool", 60, std::nullopt, std::nullopt}}},
        {"display name names the bucket",
         R"([{"displayName":"Other","buckets":[{"bucketId":"b","displayName":"Flex",
             "remaining":{"value":1}}]}])",
         {{"antigravity-other-b", "Other Flex", 0, std::nullopt, std::nullopt}}},
        {"fractions outside 0...1 are clamped, unreadable ones skipped",
         R"([{"displayName":"GPT","buckets":[{"bucketId":"5h","remainingFraction":-1},
             {"bucketId":"7d","remainingFraction":2},{"bucketId":"x","remainingFraction":" 0.5"},
             {"bucketId":"y","remainingFraction":true},{"bucketId":"z"},
             {"bucketId":"w","remainingFraction":"0x1p-1"}]}])",
         {{"antigravity-claude-gpt-5h", "Claude + GPT", 100, 300, std::nullopt},
          {"antigravity-claude-gpt-7d", "Claude + GPT", 0, 10080, std::nullopt}}},
        {"disabled flags in their forms",
         R"([{"displayName":"G","buckets":[{"bucketId":"a","disabled":"TRUE","remainingFraction":0},
             {"bucketId":"b","disabled":1,"remainingFraction":0},
             {"bucketId":"c","disabled":"yes","remainingFraction":0.5},
             {"bucketId":"d","disabled":false,"remainingFraction":0.75}]}])",
         {{"antigravity-g-c", "G c", 50, std::nullopt, std::nullopt},
          {"antigravity-g-d", "G d", 25, std::nullopt, std::nullopt}}},
        {"buckets without ids keep stable, distinct ids",
         R"([{"displayName":"Gemini Pro","buckets":[{"displayName":"Weekly","remainingFraction":0.5}]},
             {"displayName":"Gemini Flash","buckets":[{"displayName":"Weekly","remainingFraction":0.5}]},
             {"displayName":"Gemini","buckets":"none"},
             {"displayName":"Gemini","buckets":[{"bucketId":"q","remainingFraction":0.5}, 3]}])",
         {{"antigravity-gemini-bucket-1", "Gemini", 50, 10080, std::nullopt},
          {"antigravity-gemini-bucket-1-2", "Gemini", 50, 10080, std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = std::string(R"({"summary":{"groups":)") + c.groups + "}}";
        EXPECT_EQ(AntigravityClient::parseQuotaSummary(body, std::nullopt, kNow).windows,
                  c.windows);
    }
}

TEST(AntigravityClientTest, BadAnswersGiveTheirMessages) {
    const std::string unparsable = "Не удалось разобрать квоты Antigravity.";
    const std::string rejected = "Antigravity отклонил запрос квоты.";
    const std::string noGroups = "Antigravity не вернул группы лимитов.";
    const std::string noModels = "Antigravity не вернул модельные лимиты.";
    const std::string noWindows = "Antigravity не вернул активные лимиты.";
    const std::string oneGroup =
        R"("groups":[{"buckets":[{"bucketId":"b","remainingFraction":0.5}]}])";
    const std::string oneModel =
        R"("clientModelConfigs":[{"label":"gemini","quotaInfo":{"remainingFraction":0.5}}])";
    struct Case {
        std::string body;
        std::string summaryMessage;
        std::string legacyMessage;
    };
    const Case cases[] = {
        {"[]", unparsable, unparsable},
        {R"("text")", unparsable, unparsable},
        {"{" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":"OK",)" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":0,)" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":" success ",)" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":"0.0",)" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":null,)" + oneGroup + "," + oneModel + "}", "(no error)", "(no error)"},
        {R"({"code":7,)" + oneGroup + "," + oneModel + "}", rejected, rejected},
        {R"({"code":"unauthenticated",)" + oneGroup + "}", rejected, rejected},
        {R"({"code":false,)" + oneGroup + "}", rejected, rejected},
        {"{}", noGroups, noModels},
        {R"({"groups":{},"clientModelConfigs":"x"})", noGroups, noModels},
        {R"({"groups":[1],"clientModelConfigs":[null]})", noGroups, noModels},
        {R"({"groups":[],"clientModelConfigs":[]})", noWindows, noWindows},
        {R"({"groups":[{"buckets":[{"bucketId":"b"}]}],
             "clientModelConfigs":[{"label":"gemini","quotaInfo":{"remainingFraction":"n/a"}},
                                   {"label":"mystery","quotaInfo":{"remainingFraction":0.1}},
                                   {"label":"gemini","quotaInfo":[0.1]}]})",
         noWindows, noWindows},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(
            quotaMessage([&] { AntigravityClient::parseQuotaSummary(c.body, std::nullopt, kNow); }),
            c.summaryMessage);
        EXPECT_EQ(quotaMessage([&] { AntigravityClient::parseLegacyUsage(c.body, kNow); }),
                  c.legacyMessage);
    }
    // Text that is not JSON at all is the platform's decoding error, with its own message.
    EXPECT_THROW(AntigravityClient::parseQuotaSummary("<html>", std::nullopt, kNow),
                 platform::DecodingError);
    EXPECT_THROW(AntigravityClient::parseLegacyUsage("", kNow), platform::DecodingError);
}

TEST(AntigravityClientTest, LegacyKeepsTheLeastRemainingModelOfEachFamily) {
    const auto usage = AntigravityClient::parseLegacyUsage(fixture("user_status.json"), kNow);
    EXPECT_EQ(usage.email, "dev@example.com");
    EXPECT_EQ(usage.plan, "Pro");
    EXPECT_EQ(usage.windows,
              (std::vector<LimitWindow>{
                  {"antigravity-claude-gpt", "Claude + GPT", 70, 300, Date{1765022400}},
                  {"antigravity-gemini", "Gemini", 25, 300, std::nullopt},
              }));

    // On a tie the earlier entry stays; an entry without any name is "model-<position>".
    const auto tie = AntigravityClient::parseLegacyUsage(
        R"({"clientModelConfigs":[
            {"label":"Claude A","quotaInfo":{"remainingFraction":0.5,"resetTime":"100"}},
            {"label":"GPT B","quotaInfo":{"remainingFraction":0.5,"resetTime":"200"}},
            {"quotaInfo":{"remainingFraction":0}}]})",
        kNow);
    EXPECT_EQ(
        tie.windows,
        (std::vector<LimitWindow>{{"antigravity-claude-gpt", "Claude + GPT", 50, 300, Date{100}}}));
    EXPECT_EQ(tie.email, std::nullopt);
}

TEST(AntigravityClientTest, IdentityTakesTheFirstPlanName) {
    struct Case {
        const char* body;
        std::optional<AntigravityIdentity> identity;
    };
    const Case cases[] = {
        {R"({"userStatus":{"email":" a@b.c ","planStatus":{"planInfo":{
             "planDisplayName":"","displayName":"Display","productName":"Product"}}}})",
         AntigravityIdentity{"a@b.c", "Display"}},
        {R"({"userStatus":{"userTier":{"name":"Ultra"},"planStatus":{"planInfo":{
             "planDisplayName":"Shown"}}}})",
         AntigravityIdentity{std::nullopt, "Ultra"}},
        {R"({"userStatus":{"email":5,"planStatus":{"planInfo":{"planShortName":"S"}}}})",
         AntigravityIdentity{std::nullopt, "S"}},
        {R"({"userStatus":{}})", AntigravityIdentity{}},
        {R"({"userStatus":"x"})", std::nullopt},
        {R"({})", std::nullopt},
        {"garbage", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(AntigravityClient::identity(c.body), c.identity);
    }
}

TEST(AntigravityClientTest, PeriodSlugOrderAndDates) {
    struct Duration {
        const char* id;
        const char* name;
        std::optional<std::int64_t> minutes;
    };
    const Duration durations[] = {
        {"weekly-gemini", "", 10080},   {"x", "Last 7D", 10080},    {"five-hour", "", 300},
        {"b", "5H window", 300},        {"b", "Session pool", 300}, {"b", "Week of five", 10080},
        {"daily", "Day", std::nullopt},
    };
    for (const auto& d : durations) {
        SCOPED_TRACE(std::string(d.id) + " / " + d.name);
        EXPECT_EQ(AntigravityClient::durationMinutes(d.id, d.name), d.minutes);
    }

    const std::pair<const char*, const char*> slugs[] = {
        {"Claude + GPT", "claude-gpt"},
        {"Gemini", "gemini"},
        {" -Pro- ", "-pro-"},
        {"Лимит", "лимит"},
        {"Café Ñ 2", "café-ñ-2"},
        {"a__b..c", "a-b-c"},
        {"", ""},
    };
    for (const auto& [text, slug] : slugs) {
        SCOPED_TRACE(text);
        EXPECT_EQ(AntigravityClient::slug(text), slug);
    }

    const LimitWindow low{"a", "", 90, std::nullopt, std::nullopt};
    const LimitWindow week{"b", "", 50, 10080, std::nullopt};
    const LimitWindow session{"c", "", 50, 300, std::nullopt};
    const LimitWindow open{"d", "", 50, std::nullopt, std::nullopt};
    const LimitWindow over{"e", "", 150, std::nullopt, std::nullopt};
    std::vector<LimitWindow> windows{open, week, low, session, over};
    std::stable_sort(windows.begin(), windows.end(), AntigravityClient::windowOrder);
    std::vector<std::string> ids;
    for (const auto& w : windows) ids.push_back(w.id);
    // Over-used counts as nothing left, like 100 %, and keeps its place among equals.
    EXPECT_EQ(ids, (std::vector<std::string>{"e", "a", "c", "b", "d"}));

    struct DateCase {
        std::optional<std::string> text;
        std::optional<Date> date;
    };
    const DateCase dates[] = {
        {std::nullopt, std::nullopt},
        {"", std::nullopt},
        {"2025-12-06T10:00:00Z", Date{1765015200}},
        {"2025-12-06T13:00:00.250+03:00", Date{1765015200.25}},
        {"1765015200", Date{1765015200}},
        {"1765015200.5", Date{1765015200.5}},
        {"tomorrow", std::nullopt},
        {"2025-12-06", std::nullopt},
    };
    for (const auto& d : dates) {
        SCOPED_TRACE(d.text.value_or("(none)"));
        EXPECT_EQ(AntigravityClient::parseDate(d.text), d.date);
    }
}

// An in-process language server on plain HTTP, reached as an extension endpoint.
class LanguageServer {
  public:
    struct Call {
        std::string path;
        std::string body;
        std::optional<std::string> token;
        std::string contentType;
        std::string protocolVersion;
    };

    // `status(path)` gives the answer's status; 200 answers with the fixture for that path.
    explicit LanguageServer(std::function<int(const std::string&)> status) {
        server_.server().Post(
            R"(/.*)", [this, status](const httplib::Request& request, httplib::Response& response) {
                {
                    const std::lock_guard lock(mutex_);
                    calls_.push_back(
                        {request.path, request.body,
                         request.has_header("X-Codeium-Csrf-Token")
                             ? std::optional(request.get_header_value("X-Codeium-Csrf-Token"))
                             : std::nullopt,
                         request.get_header_value("Content-Type"),
                         request.get_header_value("Connect-Protocol-Version")});
                }
                response.status = status(request.path);
                if (response.status != 200) return;
                if (request.path == AntigravityClient::summaryPath) {
                    response.set_content(fixture("summary.json"), "application/json");
                } else if (request.path == AntigravityClient::userStatusPath) {
                    response.set_content(fixture("user_status.json"), "application/json");
                } else {
                    response.set_content(fixture("model_configs.json"), "application/json");
                }
            });
        server_.start();
    }

    int port() const { return server_.port(); }
    std::vector<Call> calls() {
        const std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    testing::FakeHttpServer server_;
    std::mutex mutex_;
    std::vector<Call> calls_;
};

AntigravityClient::Options serving(std::vector<AntigravityProcess> processes) {
    AntigravityClient::Options options;
    options.runningProcesses = [processes] { return processes; };
    options.listeningPorts = [](int) { return std::vector<int>{}; };
    return options;
}

AntigravityProcess extensionServer(int port, std::string token = "ext-token") {
    return {.pid = 1, .csrfToken = "main", .extensionPort = port, .extensionToken = token};
}

const std::string kMetadata =
    R"({"metadata":{"extensionName":"antigravity","ideName":"antigravity","ideVersion":"unknown","locale":"en"}})";

TEST(AntigravityClientTest, FetchAsksForTheSummaryAndTheAccountWithConnectHeaders) {
    LanguageServer server([](const std::string&) { return 200; });
    const testing::FixedClock clock(kNow);
    const auto usage = AntigravityClient(clock, serving({extensionServer(server.port())})).fetch();
    EXPECT_EQ(usage, AntigravityClient::parseQuotaSummary(fixture("summary.json"),
                                                          fixture("user_status.json"), kNow));

    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].path, AntigravityClient::summaryPath);
    EXPECT_EQ(platform::parseJson(calls[0].body), platform::parseJson(R"({"forceRefresh":true})"));
    EXPECT_EQ(calls[1].path, AntigravityClient::userStatusPath);
    EXPECT_EQ(platform::parseJson(calls[1].body), platform::parseJson(kMetadata));
    for (const auto& call : calls) {
        EXPECT_EQ(call.token, "ext-token");
        EXPECT_EQ(call.contentType, "application/json");
        EXPECT_EQ(call.protocolVersion, "1");
    }
}

TEST(AntigravityClientTest, FallsBackToUserStatusThenToModelConfigs) {
    const testing::FixedClock clock(kNow);
    {
        LanguageServer server([](const std::string& path) {
            return path == AntigravityClient::summaryPath ? 404 : 200;
        });
        const auto usage =
            AntigravityClient(clock, serving({extensionServer(server.port(), "")})).fetch();
        EXPECT_EQ(usage, AntigravityClient::parseLegacyUsage(fixture("user_status.json"), kNow));
        // With an empty token the header is left out altogether.
        for (const auto& call : server.calls()) EXPECT_EQ(call.token, std::nullopt);
    }
    {
        LanguageServer server([](const std::string& path) {
            return path == AntigravityClient::modelConfigsPath ? 200 : 500;
        });
        const auto usage =
            AntigravityClient(clock, serving({extensionServer(server.port())})).fetch();
        ASSERT_EQ(usage.windows.size(), 1u);
        EXPECT_EQ(usage.windows[0].id, "antigravity-gemini");
        EXPECT_EQ(usage.windows[0].usedPercent, 60);
        std::vector<std::string> paths;
        for (const auto& call : server.calls()) paths.push_back(call.path);
        EXPECT_EQ(paths,
                  (std::vector<std::string>{std::string(AntigravityClient::summaryPath),
                                            std::string(AntigravityClient::userStatusPath),
                                            std::string(AntigravityClient::modelConfigsPath)}));
        EXPECT_EQ(platform::parseJson(server.calls()[2].body), platform::parseJson(kMetadata));
    }
}

TEST(AntigravityClientTest, TriesEveryEndpointOfEveryServerUntilOneAnswers) {
    using namespace std::chrono_literals;
    LanguageServer refusing([](const std::string&) { return 403; });
    LanguageServer answering([](const std::string&) { return 200; });
    // A port that accepts connections but never answers.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const int silentPort = ntohs(address.sin_port);

    AntigravityClient::Options options = serving({
        {.pid = 1, .csrfToken = "t", .extensionPort = refusing.port()},
        {.pid = 2, .csrfToken = "t", .extensionPort = 0},
        {.pid = 3, .csrfToken = "t", .extensionPort = silentPort},
        {.pid = 4, .csrfToken = "t", .extensionPort = answering.port()},
    });
    options.requestLimit = 200ms;
    const testing::FixedClock clock(kNow);
    const auto usage = AntigravityClient(clock, options).fetch();
    EXPECT_EQ(usage.windows.size(), 3u);
    EXPECT_EQ(refusing.calls().size(), 3u);
    ::close(silent);
}

TEST(AntigravityClientTest, NoServerAndNoAnswerHaveTheirMessages) {
    const testing::FixedClock clock(kNow);
    EXPECT_EQ(quotaMessage([&] { AntigravityClient(clock, serving({})).fetch(); }),
              "Откройте Antigravity, чтобы получить квоты.");

    LanguageServer refusing([](const std::string&) { return 401; });
    // A server whose only endpoint is nowhere, and one that refuses everything.
    const auto processes = std::vector<AntigravityProcess>{{.pid = 1, .csrfToken = "t"},
                                                           extensionServer(refusing.port())};
    EXPECT_EQ(quotaMessage([&] { AntigravityClient(clock, serving(processes)).fetch(); }),
              "Antigravity не вернул квоты. Проверьте вход в аккаунт и повторите.");

    const AntigravityClient client(clock, serving({}));
    EXPECT_EQ(quotaMessage([&] {
                  client.request({"ftp", 21, ""}, "/", {});
              }),
              "Некорректный локальный адрес Antigravity.");
    EXPECT_EQ(quotaMessage([&] {
                  client.request({"http", 70000, ""}, "/", {});
              }),
              "Некорректный локальный адрес Antigravity.");
    EXPECT_EQ(quotaMessage([&] {
                  client.request({"http", refusing.port(), ""}, AntigravityClient::summaryPath, {});
              }),
              "Локальный сервер Antigravity отклонил запрос.");
}

}  // namespace
}  // namespace kestrane::providers
