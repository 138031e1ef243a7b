// The whole exchange of CodexClient with a scripted app server running as a real child.
#include <gtest/gtest.h>

#include <signal.h>
#include <algorithm>

#include <ctime>
#include <fstream>
#include <sstream>

#include "model/QuotaError.h"
#include "providers/codex/CodexClient.h"
#include "providers/codex/FakeAppServer.h"
#include "support/FixedClock.h"
#include "support/ProcessRun.h"

namespace kestrane::providers {
namespace {

using namespace std::chrono_literals;
using model::QuotaError;
using platform::Json;

Json fixture(const std::string& name) {
    std::ifstream file(std::string(KESTRANE_FIXTURES) + "/codex/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return Json::parse(text.str());
}

// Script steps: read the next request, answer it with `result`.
std::string respond(int id, const Json& result) {
    return "read\nsend " + Json{{"id", id}, {"result", result}}.dump() + "\n";
}
std::string respondRaw(const std::string& line) { return "read\nsend " + line + "\n"; }

// What the real server answers to "initialize", and the notifications it sends right after.
const std::string kHandshake =
    respond(1, {{"userAgent", "Kestrane/0.171.0 (Debian 12.0.0; x86_64) unknown (Kestrane; 1.1)"},
                {"codexHome", "/home/me/.codex"},
                {"platformFamily", "unix"},
                {"platformOs", "linux"}}) +
    R"(send {"method":"configWarning","params":{"summary":"Codex could not find bubblewrap on PATH.","details":null},"emittedAtMs":1796906511460}
send {"method":"remoteControl/status/changed","params":{"status":"disabled"},"emittedAtMs":1796906511460}
read
)";

const std::string kAccountAndLimits =
    respond(2, fixture("account_chatgpt.json")) + respond(3, fixture("rate_limits_by_id.json"));
const std::string kNoThreads = respond(4, {{"data", Json::array()}});

constexpr platform::Date kNow{1'765'000'000};
// Generous enough for a loaded machine; cases that expect silence set their own.
constexpr CodexLimits kPatient{5000ms, 5000ms, 5000ms, 5000ms};

class CodexAppServerTest : public ::testing::Test {
  protected:
    // As the application does at start-up: a write to a child that has gone fails instead.
    void SetUp() override { ::signal(SIGPIPE, SIG_IGN); }

    model::ProviderUsage fetch(const std::vector<std::filesystem::path>& executables,
                               CodexLimits limits = kPatient) {
        const platform::MapEnvironment environment({{"TMPDIR", server.folder.path().string()}},
                                                   server.folder.path() / "home");
        const CodexClient client(environment, clock, limits);
        std::vector<std::string> paths;
        for (const auto& path : executables) paths.push_back(path.string());
        return client.fetchSynchronously(paths);
    }

    // The fetch's failure text, after checking its kind.
    std::string failure(const std::vector<std::filesystem::path>& executables,
                        std::optional<QuotaError::Kind> kind, CodexLimits limits = kPatient) {
        try {
            fetch(executables, limits);
        } catch (const QuotaError& error) {
            EXPECT_EQ(std::optional(error.kind()), kind);
            return error.what();
        } catch (const platform::LocalizedError& error) {
            EXPECT_EQ(kind, std::nullopt) << "a platform error instead of a QuotaError";
            return error.what();
        }
        ADD_FAILURE() << "the fetch succeeded";
        return {};
    }

    testing::FakeAppServer server;
    testing::FixedClock clock{kNow};
};

TEST_F(CodexAppServerTest, FullExchangeSkipsNotificationsEmptyLinesAndOtherIds) {
    const auto codex = server.install(
        "good",
        kHandshake + "read\nsend\nsend {\"id\":99,\"result\":{}}\nsend {\"method\":\"x\"}\n" +
            "send " + Json{{"id", 2.0}, {"result", fixture("account_chatgpt.json")}}.dump() +
            "\n\n" + respond(3, fixture("rate_limits_by_id.json")) +
            respond(4, fixture("thread_list.json")));

    const auto usage = fetch({codex});

    EXPECT_EQ(usage.email, "dev@example.com");
    EXPECT_EQ(usage.plan, "Pro");
    ASSERT_EQ(usage.windows.size(), 4u);
    EXPECT_EQ(usage.windows[0].id, "Codex-primary-300");
    EXPECT_EQ(usage.recentModels, CodexClient::recentModels(fixture("thread_list.json"), kNow));
    EXPECT_FALSE(usage.recentModels.empty());

    const auto log = testing::FakeAppServer::log(codex);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "args -s read-only -a never app-server");
    EXPECT_EQ(log[2], "cwd " + server.folder.path().string());

    const auto requests = testing::FakeAppServer::requests(codex);
    const Json threadParams = {
        {"limit", 64},
        {"sortKey", "updated_at"},
        {"sortDirection", "desc"},
        {"useStateDbOnly", true},
        {"modelProviders", {"openai"}},
        {"sourceKinds",
         {"cli", "vscode", "exec", "appServer", "subAgent", "subAgentReview", "subAgentCompact",
          "subAgentThreadSpawn", "subAgentOther", "unknown"}}};
    const std::vector<Json> expected = {
        {{"id", 1},
         {"method", "initialize"},
         {"params", {{"clientInfo", {{"name", "Kestrane"}, {"version", "1.1"}}}}}},
        {{"method", "initialized"}, {"params", Json::object()}},
        {{"id", 2}, {"method", "account/read"}, {"params", Json::object()}},
        {{"id", 3}, {"method", "account/rateLimits/read"}, {"params", Json::object()}},
        {{"id", 4}, {"method", "thread/list"}, {"params", threadParams}},
    };
    ASSERT_EQ(requests.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(requests[i]);
        EXPECT_EQ(requests[i].find('\n'), std::string::npos);
        EXPECT_EQ(Json::parse(requests[i]), expected[i]);
    }
    EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(codex)));
}

TEST_F(CodexAppServerTest, BadAnswersFailTheFetchAndStopTheChild) {
    const std::string decodingError = platform::DecodingError().what();
    struct Case {
        const char* name;
        std::string script;
        std::optional<QuotaError::Kind> kind;
        std::string message;
    };
    const auto invalid = QuotaError::Kind::invalidResponse;
    const Case cases[] = {
        {"exits at once", "exit 0\n", invalid, "Codex закрыл соединение."},
        {"exits after the handshake", kHandshake + "read\nexit 0\n", invalid,
         "Codex закрыл соединение."},
        // Words we do not know are shown as the server wrote them, on one line.
        {"error member",
         kHandshake +
             respondRaw(
                 R"({"error":{"code":-32603,"message":"state database is unavailable\n\tretry"},"id":2})"),
         invalid, "state database is unavailable retry"},
        {"error without message", kHandshake + respondRaw(R"({"id":2,"error":{"code":-1}})"),
         invalid, "Ошибка Codex RPC"},
        {"missing result", kHandshake + respondRaw(R"({"id":2})"), invalid,
         "В ответе Codex нет поля result."},
        {"result of the wrong type", kHandshake + respondRaw(R"({"id":2,"result":[1]})"), invalid,
         "В ответе Codex нет поля result."},
        {"not JSON", kHandshake + respondRaw(R"({"id":2,"result":)"), std::nullopt, decodingError},
        {"JSON that is not an object", kHandshake + respondRaw("[2]"), invalid,
         "Codex вернул некорректный JSON."},
        {"a line without end", kHandshake + "read\nflood 9437184\nhang\n", invalid,
         "Codex вернул некорректный JSON."},
        {"no limits bucket",
         respond(1, Json::object()) + "read\n" + respond(2, fixture("account_signed_out.json")) +
             respond(3, {{"rateLimitsByLimitId", nullptr}}),
         invalid, "Codex не вернул данные о лимитах."},
        // Noticed when writing "initialized", not when reading: the same message.
        {"input closed by the child", "read\nclose-input\nsend {\"id\":1,\"result\":{}}\nhang\n",
         invalid, "Codex закрыл соединение."},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto codex = server.install("case" + std::to_string(index++), c.script);
        EXPECT_EQ(failure({codex}, c.kind), c.message);
        EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(codex)));
    }
}

TEST_F(CodexAppServerTest, ErrorsOfAFirstRunSayWhatToDo) {
    // The server's texts as `codex app-server` 0.171.0 writes them: signed out, signed in
    // with an API key, and with a ChatGPT login whose requests fail (the server's own request
    // to chatgpt.com answered 401, 403, 429 or 500, or not sent for want of a network, or the
    // login could not be renewed).
    const auto refusal = [](int id, const std::string& message) {
        return respondRaw(
            Json{{"error", {{"code", -32603}, {"message", message}}}, {"id", id}}.dump());
    };
    const auto usageFailed = [&](const std::string& status) {
        return refusal(3,
                       "failed to fetch codex rate limits: GET "
                       "https://chatgpt.com/backend-api/wham/usage failed: " +
                           status +
                           "; content-type=application/json; body={\"error\": {\"code\": "
                           "\"token_expired\"}}");
    };
    const std::string signedOut = respond(2, fixture("account_signed_out.json"));
    const std::string signedIn = respond(2, fixture("account_chatgpt.json"));
    const std::string apiKey =
        respond(2, {{"account", {{"type", "apiKey"}}}, {"requiresOpenaiAuth", true}});

    const auto unavailable = QuotaError::Kind::unavailable;
    const auto invalid = QuotaError::Kind::invalidResponse;
    const std::string login = "Выполните `codex login`.";
    struct Case {
        const char* name;
        std::string steps;
        QuotaError::Kind kind;
        std::string message;
    };
    const Case cases[] = {
        {"signed out",
         signedOut + refusal(3, "codex account authentication required to read rate limits"),
         unavailable, "Codex не авторизован. " + login},
        // Another version may word it differently; "account/read" already said who is there.
        {"signed out, other words", signedOut + refusal(3, "not signed in"), unavailable,
         "Codex не авторизован. " + login},
        {"API key only", apiKey + refusal(3, "chatgpt authentication required to read rate limits"),
         unavailable,
         "Codex вошёл по API-ключу, а лимиты подписки видны только после входа через ChatGPT. " +
             login},
        {"login expired, account discovery",
         refusal(2, "workspace routing discovery unauthorized (401)"), unavailable,
         "Вход в Codex больше не действует. " + login},
        {"login expired, limits", signedIn + usageFailed("401 Unauthorized"), unavailable,
         "Вход в Codex больше не действует. " + login},
        // After a 401 the server tries to renew the login first.
        {"login not renewed",
         refusal(2,
                 "Your access token could not be refreshed because your refresh token has "
                 "expired. Please log out and sign in again."),
         unavailable, "Вход в Codex больше не действует. " + login},
        // A server that has just given up on the login reports nobody signed in, and then
        // the 401 that made it give up.
        {"login just given up", signedOut + usageFailed("401 Unauthorized"), unavailable,
         "Вход в Codex больше не действует. " + login},
        {"refused", signedIn + usageFailed("403 Forbidden"), unavailable,
         "Сервер ChatGPT отказал Codex в доступе к лимитам. Выполните `codex login` заново."},
        {"too many requests", signedIn + usageFailed("429 Too Many Requests"), unavailable,
         "Сервер ChatGPT временно ограничил запросы Codex. Повторите позже."},
        {"server failure", signedIn + usageFailed("502 Bad Gateway"), unavailable,
         "Сервер ChatGPT не смог ответить Codex о лимитах. Повторите позже."},
        {"offline, account discovery", refusal(2, "workspace routing discovery failed"),
         unavailable,
         "Codex не смог получить сведения об учётной записи ChatGPT. Проверьте подключение к "
         "интернету и повторите позже."},
        {"offline, limits",
         signedIn + refusal(3,
                            "failed to fetch codex rate limits: error sending request for url "
                            "(https://chatgpt.com/backend-api/wham/usage)"),
         unavailable,
         "Codex не смог связаться с сервером ChatGPT. Проверьте подключение к интернету и "
         "настройки прокси."},
        {"no snapshots",
         signedIn + refusal(3, "failed to fetch codex rate limits: no snapshots returned"), invalid,
         "Codex не вернул данные о лимитах."},
        // A status we have no advice for keeps the server's words.
        {"unknown status", signedIn + usageFailed("404 Not Found"), invalid,
         "failed to fetch codex rate limits: GET https://chatgpt.com/backend-api/wham/usage "
         "failed: 404 Not Found; content-type=application/json; body={\"error\": {\"code\": "
         "\"token_expired\"}}"},
        // Signed out, but the server went away: that is what the user is told.
        {"signed out, connection closed", signedOut + "read\nexit 0\n", invalid,
         "Codex закрыл соединение."},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto codex =
            server.install("first-run" + std::to_string(index++), kHandshake + c.steps);
        EXPECT_EQ(failure({codex}, c.kind), c.message);
        EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(codex)));
    }
}

TEST_F(CodexAppServerTest, SilentCandidateTimesOutAndTheNextOneIsUsed) {
    const auto silent = server.install("silent", "read\ndrain\n");
    const auto good = server.install("good", kHandshake + kAccountAndLimits + kNoThreads);
    CodexLimits limits = kPatient;
    limits.initialize = 500ms;

    const auto usage = fetch({silent, good}, limits);
    EXPECT_EQ(usage.windows.size(), 4u);
    EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(silent)));
    EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(good)));

    // Alone, the silent one ends the fetch with the time-out.
    EXPECT_EQ(failure({silent}, QuotaError::Kind::timeout, limits), "Codex не ответил вовремя.");
}

TEST_F(CodexAppServerTest, OnlyTheLastCandidatesErrorIsReported) {
    const auto closing = server.install("closing", "exit 0\n");
    const auto notExecutable = server.folder.write("plain/codex", "not a program");
    std::filesystem::permissions(notExecutable, std::filesystem::perms::owner_read);

    EXPECT_EQ(failure({closing, notExecutable}, QuotaError::Kind::unavailable),
              "Не удалось запустить Codex: Нет прав доступа.");
    EXPECT_EQ(failure({notExecutable, closing}, QuotaError::Kind::invalidResponse),
              "Codex закрыл соединение.");
    EXPECT_EQ(failure({}, QuotaError::Kind::unavailable),
              "Codex не найден. Установите Codex (npm install -g @openai/codex).");
}

TEST_F(CodexAppServerTest, ThreadListFailureLeavesRecentModelsEmpty) {
    const std::pair<const char*, std::string> cases[] = {
        {"error", respondRaw(R"({"id":4,"error":{"message":"unknown variant `subAgentOther`"}})")},
        {"silence", "read\ndrain\n"},
        {"garbage", respondRaw("garbage")},
        {"closed", "read\nexit 0\n"},
    };
    CodexLimits limits = kPatient;
    limits.threadList = 100ms;
    int index = 0;
    for (const auto& [name, threadStep] : cases) {
        SCOPED_TRACE(name);
        const auto codex = server.install("threads" + std::to_string(index++),
                                          kHandshake + kAccountAndLimits + threadStep);
        const auto usage = fetch({codex}, limits);
        EXPECT_EQ(usage.windows.size(), 4u);
        EXPECT_TRUE(usage.recentModels.empty());
        EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(codex)));
    }
}

TEST_F(CodexAppServerTest, ChildThatIgnoresTerminateIsKilled) {
    const auto stubborn = server.install(
        "stubborn", "ignore-term\n" + kHandshake +
                        respondRaw(R"({"id":2,"error":{"message":"no"}})") + "hang\n");
    EXPECT_EQ(failure({stubborn}, QuotaError::Kind::invalidResponse), "no");
    EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(stubborn)));
}

// Gone, or a zombie waiting for whoever adopted it: either way it no longer runs.
bool hasEnded(pid_t pid) {
    if (testing::FakeAppServer::isGone(pid)) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

TEST_F(CodexAppServerTest, AGrandchildHoldingThePipeDoesNotOutliveTheFetch) {
    const auto codex = server.install(
        "family", "grandchild\n" + kHandshake + kAccountAndLimits + kNoThreads + "hang\n");
    EXPECT_EQ(fetch({codex}).windows.size(), 4u);
    pid_t grandchild = -1;
    for (const auto& line : testing::FakeAppServer::log(codex)) {
        if (line.starts_with("grandchild ")) grandchild = std::stoi(line.substr(11));
    }
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(hasEnded(grandchild));
    EXPECT_TRUE(testing::FakeAppServer::isGone(testing::FakeAppServer::processId(codex)));
}

TEST_F(CodexAppServerTest, TheChildFindsWhatLivesBesideItAndAMissingTmpdirFallsBack) {
    const auto codex = server.install("beside", kHandshake + kAccountAndLimits + kNoThreads);
    const platform::MapEnvironment environment(
        {{"TMPDIR", (server.folder.path() / "gone").string()}, {"PATH", "/usr/bin:/bin"}},
        server.folder.path() / "home");
    const CodexClient client(environment, clock, kPatient);
    EXPECT_EQ(client.fetchSynchronously({codex.string()}).windows.size(), 4u);
    const auto log = testing::FakeAppServer::log(codex);
    EXPECT_NE(std::find(log.begin(), log.end(), "cwd /tmp"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "path " + codex.parent_path().string() + ":/usr/bin:/bin"),
              log.end());
}

TEST_F(CodexAppServerTest, ALauncherWhoseNodeIsMissingSaysSo) {
    // The npm launcher runs `env node`; a PATH without node makes env exit with 127. A
    // launcher naming a node that does not exist cannot be started at all.
    const auto viaEnv = server.folder.write("env/codex", "#!/usr/bin/env node\nrequire('x');\n");
    const auto direct = server.folder.write("direct/codex", "#!/nonexistent/bin/node\n");
    const auto shell = server.folder.write("shell/codex", "#!/bin/sh\nexit 127\n");
    for (const auto& path : {viaEnv, direct, shell}) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    const platform::MapEnvironment environment({{"PATH", "/nonexistent"}},
                                               server.folder.path() / "home");
    const CodexClient client(environment, clock, kPatient);
    const auto message = [&](const std::filesystem::path& path) {
        try {
            client.fetchSynchronously({path.string()});
        } catch (const platform::LocalizedError& error) {
            return std::string(error.what());
        }
        return std::string("<no error>");
    };
    const std::string needsNode =
        "Codex найден, но для запуска ему нужен Node.js, которого нет в PATH.";
    EXPECT_EQ(message(viaEnv), needsNode);
    EXPECT_EQ(message(direct), needsNode);
    EXPECT_EQ(message(shell), "Codex закрыл соединение.");
}

TEST_F(CodexAppServerTest, ProbePrintsWindowsAndRecentModels) {
    const double now = static_cast<double>(std::time(nullptr));
    const Json threads = {{"data",
                           {{{"id", "a"}, {"model", "gpt-5.2-codex"}, {"updatedAt", now - 60}},
                            {{"id", "b"}, {"model", "o4-mini"}, {"updatedAt", now - 3600}}}}};
    const auto codex =
        server.install("probe", kHandshake + kAccountAndLimits + respond(4, threads));

    const auto run = testing::runProcess(testing::kestraneExecutable(), {"--probe", "codex"},
                                         {{"HOME", (server.folder.path() / "home").string()},
                                          {"TMPDIR", server.folder.path().string()},
                                          {"CODEX_PATH", codex.string()},
                                          {"PATH", "/nonexistent"}});

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.standardOutput,
              "Codex OK: Codex - 5 часов=40%, Codex доп. - Недельный=10%, GPT-X - 5 часов=5%, "
              "Дополнительный лимит - Дневной=70%\n"
              "Recent configured models: gpt-5.2-codex, o4-mini\n");
    EXPECT_EQ(run.standardError, "");
}

}  // namespace
}  // namespace kestrane::providers
