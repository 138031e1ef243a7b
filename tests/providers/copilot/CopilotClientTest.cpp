#include "providers/copilot/CopilotClient.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "model/QuotaError.h"
#include "platform/Files.h"
#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/Fixtures.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;
using model::LimitWindow;
using platform::Date;
using Variables = std::map<std::string, std::string, std::less<>>;

constexpr double kNow = 1'765'000'000;
constexpr double kJanuary2026 = 1'767'225'600;  // 2026-01-01T00:00:00Z

const char* const kNotSignedIn =
    "GitHub Copilot не авторизован. Войдите в Copilot в редакторе (VS Code, JetBrains, Neovim) "
    "или выполните `gh auth login`.";
const char* const kUnreadable = "Не удалось разобрать квоты GitHub Copilot.";

std::string readFixture(const std::string& name) { return testing::fixture("copilot/" + name); }

using testing::errorOf;

// ---- the quota answer ------------------------------------------------------------------------

TEST(CopilotUsageTest, PaidPlanShowsThePremiumRequestsAndSkipsUnlimitedOnes) {
    const auto usage = CopilotClient::parseUsage(readFixture("user_pro.json"), Date{kNow});
    const std::vector<LimitWindow> expected{
        {"copilot-premium", "Премиум-запросы", 37.5, 43200, Date{kJanuary2026}},
    };
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.provider, model::ProviderKind::copilot);
    EXPECT_EQ(usage.email, "octocat");
    EXPECT_EQ(usage.plan, "Individual Pro");
    EXPECT_EQ(usage.updatedAt, Date{kNow});
    EXPECT_EQ(usage.windows[0].periodTitle(), "Премиум-запросы - Месячный");
}

TEST(CopilotUsageTest, FreePlanShowsWhatIsLeftOfItsMonthlyTotals) {
    const auto usage = CopilotClient::parseUsage(readFixture("user_free.json"), Date{kNow});
    const std::vector<LimitWindow> expected{
        {"copilot-chat", "Чат", 20, 43200, Date{kJanuary2026}},
        {"copilot-completions", "Автодополнения", 25, 43200, Date{kJanuary2026}},
    };
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.plan, "Free");
}

TEST(CopilotUsageTest, SnapshotShapes) {
    struct Case {
        const char* name;
        std::string snapshots;
        std::vector<std::pair<std::string, double>> windows;
    };
    const Case cases[] = {
        {"all three limited, premium first",
         R"({"completions":{"percent_remaining":90},"chat":{"percent_remaining":75},)"
         R"("premium_interactions":{"percent_remaining":10,"unlimited":false}})",
         {{"copilot-premium", 90}, {"copilot-chat", 25}, {"copilot-completions", 10}}},
        {"share from the counters when the percentage is missing",
         R"({"premium_interactions":{"entitlement":300,"remaining":75}})",
         {{"copilot-premium", 75}}},
        {"shares outside 0-100 are clamped",
         R"({"premium_interactions":{"percent_remaining":-20},"chat":{"percent_remaining":140}})",
         {{"copilot-premium", 100}, {"copilot-chat", 0}}},
        {"no entitlement at all is no quota",
         R"({"premium_interactions":{"entitlement":0,"percent_remaining":0}})",
         {}},
        {"unlimited everywhere: nothing to show",
         R"({"chat":{"unlimited":true},"completions":{"unlimited":true},)"
         R"("premium_interactions":{"unlimited":true,"percent_remaining":0}})",
         {}},
        {"no share and no counters",
         R"({"premium_interactions":{"entitlement":300},"other":{"percent_remaining":5}})",
         {}},
        {"nulls read as missing",
         R"({"premium_interactions":{"percent_remaining":50,"unlimited":null,"entitlement":null}})",
         {{"copilot-premium", 50}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage = CopilotClient::parseUsage(
            R"({"login":"octocat","quota_snapshots":)" + c.snapshots + "}", Date{kNow});
        std::vector<std::pair<std::string, double>> windows;
        for (const auto& window : usage.windows)
            windows.emplace_back(window.id, window.usedPercent);
        EXPECT_EQ(windows, c.windows);
    }
}

TEST(CopilotUsageTest, ResetDatesAndPlans) {
    struct Case {
        const char* members;
        std::optional<Date> resetsAt;
        std::optional<std::string> plan;
    };
    const Case cases[] = {
        {R"("quota_reset_date":"2026-01-01")", Date{kJanuary2026}, std::nullopt},
        {R"("quota_reset_date_utc":"2026-01-01T00:00:00Z","quota_reset_date":"2025-02-01")",
         Date{kJanuary2026}, std::nullopt},
        {R"("quota_reset_date_utc":"soon","quota_reset_date":"2026-01-01")", Date{kJanuary2026},
         std::nullopt},
        {R"("quota_reset_date":"2026-1-1")", std::nullopt, std::nullopt},
        {R"("quota_reset_date":"")", std::nullopt, std::nullopt},
        {R"("copilot_plan":"business")", std::nullopt, "Business"},
        {R"("copilot_plan":"individual_max")", std::nullopt, "Individual Max"},
        {R"("copilot_plan":"")", std::nullopt, std::nullopt},
        {R"("copilot_plan":"Ent\r\nerprise")", std::nullopt, "Ent Erprise"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.members);
        const auto usage = CopilotClient::parseUsage(
            std::string("{") + c.members +
                R"(,"quota_snapshots":{"premium_interactions":{"percent_remaining":50}}})",
            Date{kNow});
        ASSERT_EQ(usage.windows.size(), 1u);
        EXPECT_EQ(usage.windows[0].resetsAt, c.resetsAt);
        EXPECT_EQ(usage.plan, c.plan);
        EXPECT_EQ(usage.email, std::nullopt);
    }
}

TEST(CopilotUsageTest, FreePlanCounters) {
    struct Case {
        const char* name;
        std::string members;
        std::vector<std::pair<std::string, double>> windows;
        std::optional<Date> resetsAt;
    };
    const Case cases[] = {
        {"reset as seconds",
         R"("limited_user_quotas":{"chat":0,"completions":500},)"
         R"("monthly_quotas":{"chat":50,"completions":2000},"limited_user_reset_date":1767225600)",
         {{"copilot-chat", 100}, {"copilot-completions", 75}},
         Date{kJanuary2026}},
        {"a total of zero gives no window",
         R"("limited_user_quotas":{"chat":10,"completions":5},)"
         R"("monthly_quotas":{"chat":0,"completions":10})",
         {{"copilot-completions", 50}},
         std::nullopt},
        {"snapshots win when billed by tokens",
         R"("token_based_billing":true,"limited_user_quotas":{"chat":10},)"
         R"("monthly_quotas":{"chat":50},"quota_snapshots":{"chat":{"percent_remaining":70}})",
         {{"copilot-chat", 30}},
         std::nullopt},
        {"counters serve when the snapshots give nothing",
         R"("quota_snapshots":{},"limited_user_quotas":{"chat":25},"monthly_quotas":{"chat":50})",
         {{"copilot-chat", 50}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage = CopilotClient::parseUsage(
            R"({"access_type_sku":"free_limited_copilot",)" + c.members + "}", Date{kNow});
        std::vector<std::pair<std::string, double>> windows;
        for (const auto& window : usage.windows) {
            windows.emplace_back(window.id, window.usedPercent);
            EXPECT_EQ(window.resetsAt, c.resetsAt);
        }
        EXPECT_EQ(windows, c.windows);
        EXPECT_EQ(usage.plan, "Free");
    }
}

TEST(CopilotUsageTest, UnreadableAnswers) {
    for (const char* body : {
             "",
             "[]",
             "not json",
             R"({"login":"octocat"})",  // no quota at all
             R"({"quota_snapshots":[]})",
             R"({"quota_snapshots":{"chat":{"percent_remaining":"50"}}})",
             R"({"quota_snapshots":{"chat":{"unlimited":"false","percent_remaining":5}}})",
             R"({"quota_snapshots":{"chat":[]}})",
             R"({"login":42,"quota_snapshots":{}})",
             R"({"copilot_plan":true,"quota_snapshots":{}})",
             R"({"quota_reset_date":7,"quota_snapshots":{}})",
             R"({"limited_user_quotas":{"chat":"1"},"monthly_quotas":{"chat":5}})",
             R"({"limited_user_quotas":{"chat":1},"monthly_quotas":{"chat":5},)"
             R"("limited_user_reset_date":true})",
         }) {
        SCOPED_TRACE(body);
        EXPECT_EQ(errorOf([&] { CopilotClient::parseUsage(body, Date{kNow}); }), kUnreadable);
    }
}

// ---- sign-in files ---------------------------------------------------------------------------

TEST(CopilotSignInTest, PlugInFilesGiveTheGithubEntry) {
    struct Case {
        const char* file;
        std::optional<CopilotClient::SignIn> signIn;
    };
    const Case cases[] = {
        {R"({"github.com:Iv1.b507a08c87ecfe98":{"user":"octocat","oauth_token":"ghu_abc",)"
         R"("githubAppId":"Iv1.b507a08c87ecfe98"}})",
         CopilotClient::SignIn{"ghu_abc", "octocat"}},
        {R"({"github.com":{"user":"octocat","oauth_token":"gho_old"}})",
         CopilotClient::SignIn{"gho_old", "octocat"}},
        {R"({"github.com:x":{"login":"hubot","access_token":" ghu_spaced \n"}})",
         CopilotClient::SignIn{"ghu_spaced", "hubot"}},
        {R"({"github.com:x":{"oauth_token":"ghu_nouser"}})",
         CopilotClient::SignIn{"ghu_nouser", std::nullopt}},
        // Other hosts, unusable entries and tokens that could forge a header are passed over.
        {R"({"ghe.example.com:x":{"user":"a","oauth_token":"ghu_ghe"},)"
         R"("github.com:a":{"user":"b","oauth_token":"bad\r\nX-Evil: 1"},)"
         R"("github.com:b":{"user":"c","oauth_token":42},)"
         R"("github.com:c":[1],)"
         R"("github.com:d":{"user":"d","oauth_token":"ghu_good"}})",
         CopilotClient::SignIn{"ghu_good", "d"}},
        {R"({"github.community:x":{"oauth_token":"ghu_other"}})", std::nullopt},
        {R"({"github.com:x":{"oauth_token":""}})", std::nullopt},
        {R"({"github.com:x":{"oauth_token":"has space"}})", std::nullopt},
        {R"([{"oauth_token":"ghu_x"}])", std::nullopt},
        {"not json", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(CopilotClient::decodeCopilotSignIns(c.file), c.signIn);
    }
}

TEST(CopilotSignInTest, GithubCliHostsFileOnlyWithAPlainTextToken) {
    struct Case {
        const char* file;
        std::optional<CopilotClient::SignIn> signIn;
    };
    const Case cases[] = {
        {"github.com:\n    user: octocat\n    oauth_token: gho_plain\n    git_protocol: https\n",
         CopilotClient::SignIn{"gho_plain", "octocat"}},
        {"github.com:\r\n  oauth_token: \"gho_quoted\"\r\n  user: 'octocat'\r\n",
         CopilotClient::SignIn{"gho_quoted", "octocat"}},
        // The host's own token wins over one under `users:`, whatever their order.
        {"github.com:\n    users:\n        octocat:\n            oauth_token: gho_nested\n"
         "    oauth_token: gho_host\n    user: octocat\n",
         CopilotClient::SignIn{"gho_host", "octocat"}},
        {"github.com:\n    users:\n        octocat:\n            oauth_token: gho_nested\n",
         CopilotClient::SignIn{"gho_nested", std::nullopt}},
        // The keyring keeps the token: the file names the user only.
        {"github.com:\n    users:\n        octocat:\n    user: octocat\n    git_protocol: ssh\n",
         std::nullopt},
        {"ghe.example.com:\n    oauth_token: gho_ghe\n    user: a\n", std::nullopt},
        {"# comment\ngithub.com:\n    oauth_token: bad token\n", std::nullopt},
        {"github.com:\nother.example:\n    oauth_token: gho_other\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(CopilotClient::decodeGithubCliHosts(c.file), c.signIn);
    }
}

TEST(CopilotSignInTest, GithubCliOutput) {
    EXPECT_EQ(CopilotClient::tokenFromCliOutput("gho_abc\n"), "gho_abc");
    EXPECT_EQ(CopilotClient::tokenFromCliOutput("  gho_abc  \r\n"), "gho_abc");
    for (const char* output : {"", "\n", "two words\n", "gho_a\ngho_b\n", "gho_\x01x"}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(CopilotClient::tokenFromCliOutput(output), std::nullopt);
    }
    EXPECT_EQ(CopilotClient::tokenFromCliOutput(std::string(5000, 'a')), std::nullopt);
}

class CopilotFilesTest : public ::testing::Test {
  protected:
    platform::MapEnvironment environment(Variables variables = {}) const {
        return platform::MapEnvironment(std::move(variables), home.path());
    }

    CopilotClient client(const platform::Environment& environment,
                         std::optional<std::string> cliToken = std::nullopt) {
        return CopilotClient(environment, clock, nullptr, [this, cliToken] {
            ++cliCalls;
            return cliToken;
        });
    }

    testing::TempDirectory home;
    testing::FixedClock clock{Date{kNow}};
    int cliCalls = 0;
};

TEST_F(CopilotFilesTest, FirstSignInFoundWins) {
    const auto env = environment();
    const auto signIn = [&](std::optional<std::string> cliToken = std::nullopt) {
        return client(env, std::move(cliToken)).loadSignIn();
    };
    EXPECT_EQ(errorOf([&] { signIn(); }), kNotSignedIn);
    EXPECT_EQ(errorOf([&] { signIn("bad\r\ntoken"); }), kNotSignedIn);
    EXPECT_EQ(signIn("gho_cli"), (CopilotClient::SignIn{"gho_cli", std::nullopt}));
    EXPECT_EQ(cliCalls, 3);
    EXPECT_FALSE(copilotHasSignIn(env));

    // The GitHub CLI's file with its token in plain text: no need to start the CLI.
    home.write(".config/gh/hosts.yml", "github.com:\n    oauth_token: gho_file\n    user: cli\n");
    EXPECT_EQ(signIn("gho_cli"), (CopilotClient::SignIn{"gho_file", "cli"}));
    EXPECT_EQ(cliCalls, 3);
    // Being signed in to the GitHub CLI says nothing about Copilot.
    EXPECT_FALSE(copilotHasSignIn(env));

    home.write(".config/github-copilot/hosts.json",
               R"({"github.com":{"user":"old","oauth_token":"gho_hosts"}})");
    EXPECT_EQ(signIn(), (CopilotClient::SignIn{"gho_hosts", "old"}));
    EXPECT_TRUE(copilotHasSignIn(env));

    home.write(".config/github-copilot/apps.json",
               R"({"github.com:Iv1.b507a08c87ecfe98":{"user":"new","oauth_token":"ghu_apps"}})");
    EXPECT_EQ(signIn(), (CopilotClient::SignIn{"ghu_apps", "new"}));

    // An apps.json without a github.com sign-in does not hide the older file.
    home.write(".config/github-copilot/apps.json", R"({"ghe.example.com:x":{"oauth_token":"a"}})");
    EXPECT_EQ(signIn(), (CopilotClient::SignIn{"gho_hosts", "old"}));
    EXPECT_EQ(cliCalls, 3);
}

TEST_F(CopilotFilesTest, ConfigurationFolders) {
    struct Case {
        Variables variables;
        fs::path copilot;
        fs::path githubCli;
    };
    const fs::path h = home.path();
    const Case cases[] = {
        {{}, h / ".config/github-copilot", h / ".config/gh"},
        {{{"XDG_CONFIG_HOME", "/etc/xdg-test"}},
         "/etc/xdg-test/github-copilot",
         "/etc/xdg-test/gh"},
        // The plug-ins ignore a relative XDG_CONFIG_HOME.
        {{{"XDG_CONFIG_HOME", "relative"}}, h / ".config/github-copilot", "relative/gh"},
        {{{"GH_CONFIG_DIR", "/opt/gh-config"}, {"XDG_CONFIG_HOME", "/x"}},
         "/x/github-copilot",
         "/opt/gh-config"},
        {{{"GH_CONFIG_DIR", "  "}, {"XDG_CONFIG_HOME", ""}},
         h / ".config/github-copilot",
         h / ".config/gh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.copilot.string());
        const auto env = environment(c.variables);
        EXPECT_EQ(CopilotClient::copilotConfigDirectory(env), c.copilot);
        EXPECT_EQ(CopilotClient::githubCliConfigDirectory(env), c.githubCli);
    }
}

TEST_F(CopilotFilesTest, TheGithubCliIsAskedForItsToken) {
    // A stand-in `gh` on PATH: prints a token for exactly `gh auth token --hostname github.com`.
    const fs::path arguments = home.path() / "arguments";
    const auto gh = home.write("bin/gh", "#!/bin/sh\necho \"$@\" > '" + arguments.string() +
                                             "'\n[ \"$*\" = 'auth token --hostname github.com' ] "
                                             "&& echo gho_from_cli\n");
    fs::permissions(gh, fs::perms::owner_all);
    const auto env = environment({{"PATH", (home.path() / "bin").string() + ":/usr/bin:/bin"}});
    const CopilotClient real(env, clock);
    EXPECT_EQ(real.loadSignIn(), (CopilotClient::SignIn{"gho_from_cli", std::nullopt}));
    EXPECT_EQ(platform::readFile(arguments, 1024), "auth token --hostname github.com\n");

    // Signed out: the CLI fails and prints nothing usable.
    home.write("bin/gh", "#!/bin/sh\necho 'no oauth token' >&2\nexit 1\n");
    EXPECT_EQ(errorOf([&] { real.loadSignIn(); }), kNotSignedIn);
}

// Whether `pid` has ended (or is only waiting to be reaped) within `limit`.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (descriptor < 0) return errno == ESRCH;
    pollfd ready{descriptor, POLLIN, 0};
    const bool ended = ::poll(&ready, 1, static_cast<int>(limit.count())) == 1;
    ::close(descriptor);
    return ended;
}

TEST_F(CopilotFilesTest, AGithubCliThatHangsIsEndedWithWhatItStarted) {
    // A stand-in `gh` that starts a helper of its own, which keeps its output open, and then
    // never answers.
    const fs::path helper = home.path() / "helper.pid";
    const auto gh = home.write(
        "bin/gh", "#!/bin/sh\nsleep 300 &\necho $! > '" + helper.string() + "'\nexec sleep 300\n");
    fs::permissions(gh, fs::perms::owner_all);
    const auto env = environment({{"PATH", (home.path() / "bin").string() + ":/usr/bin:/bin"}});
    const auto message =
        errorOf([&] { CopilotClient::githubCliToken(env, std::chrono::milliseconds(500)); });
    EXPECT_EQ(message,
              "GitHub CLI (gh) не ответил за 1 с. Проверьте `gh auth status` в терминале или "
              "войдите в Copilot в редакторе.");
    const auto pid = platform::readFile(helper, 64);
    ASSERT_TRUE(pid.has_value());
    EXPECT_TRUE(endsWithin(static_cast<pid_t>(std::stol(*pid)), std::chrono::seconds(10)))
        << "the helper of gh is still running";
}

// ---- the request -----------------------------------------------------------------------------

class CopilotFetchTest : public CopilotFilesTest {
  protected:
    void SetUp() override {
        fake.server().Get("/copilot_internal/user",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              std::lock_guard lock(mutex);
                              ++requests;
                              headers = request.headers;
                              response.status = status;
                              response.set_content(body, "application/json");
                          });
        fake.start();
        home.write(".config/github-copilot/apps.json",
                   R"({"github.com:Iv1.x":{"user":"from-file","oauth_token":"ghu_stored"}})");
    }

    model::ProviderUsage fetch(Variables variables = {}) {
        variables.emplace(std::string(CopilotClient::originVariable), fake.origin());
        const auto env = environment(std::move(variables));
        return client(env).fetch();
    }

    testing::FakeHttpServer fake;
    std::mutex mutex;
    int requests = 0;
    httplib::Headers headers;
    int status = 200;
    std::string body = readFixture("user_pro.json");
};

TEST_F(CopilotFetchTest, AsksWithTheStoredTokenAndWritesNothing) {
    const auto before = fs::last_write_time(home.path() / ".config/github-copilot/apps.json");
    const auto usage = fetch();
    ASSERT_EQ(usage.windows.size(), 1u);
    EXPECT_EQ(usage.windows[0].usedPercent, 37.5);
    EXPECT_EQ(usage.email, "octocat");
    std::lock_guard lock(mutex);
    EXPECT_EQ(requests, 1);
    const auto header = [&](const char* name) {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string("(none)") : it->second;
    };
    EXPECT_EQ(header("Authorization"), "token ghu_stored");
    EXPECT_EQ(header("Accept"), "application/json");
    EXPECT_TRUE(header("User-Agent").starts_with("Kestrane/")) << header("User-Agent");
    EXPECT_EQ(cliCalls, 0);
    EXPECT_EQ(fs::last_write_time(home.path() / ".config/github-copilot/apps.json"), before);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(home.path())) {
        ++files;
    }
    EXPECT_EQ(files, 3u);  // .config, github-copilot, apps.json
}

TEST_F(CopilotFetchTest, TheAccountFallsBackToTheSignInFile) {
    body = R"({"quota_snapshots":{"premium_interactions":{"percent_remaining":80}}})";
    EXPECT_EQ(fetch().email, "from-file");
}

TEST_F(CopilotFetchTest, EachRefusalHasItsMessage) {
    struct Case {
        int status;
        std::string body;
        const char* message;
    };
    const Case cases[] = {
        {401, "{}",
         "Вход в GitHub Copilot больше не действителен. Войдите в Copilot снова в редакторе или "
         "выполните `gh auth login`."},
        {403, R"({"message":"Resource not accessible"})",
         "У этого аккаунта GitHub нет доступа к Copilot."},
        {404, R"({"message":"Not Found"})", "У этого аккаунта GitHub нет доступа к Copilot."},
        {429, "{}", "GitHub временно ограничил проверку квот Copilot. Повторите позже."},
        {500, "oops", "GitHub API: HTTP 500."},
        {200, "<html>", kUnreadable},
        {200, R"({"quota_snapshots":{"chat":{"percent_remaining":"many"}}})", kUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        body = c.body;
        EXPECT_EQ(errorOf([&] { fetch(); }), c.message);
    }
}

TEST_F(CopilotFetchTest, AnUnusableOriginOverrideIsReportedWithoutAnyRequest) {
    const auto message = errorOf([&] {
        const auto env =
            environment({{std::string(CopilotClient::originVariable), "http://api.example.com"}});
        client(env).fetch();
    });
    EXPECT_NE(message.find("KESTRANE_COPILOT_ORIGIN"), std::string::npos) << message;
    std::lock_guard lock(mutex);
    EXPECT_EQ(requests, 0);
}

}  // namespace
}  // namespace kestrane::providers
