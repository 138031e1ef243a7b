#include "providers/kimi/KimiClient.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <mutex>

#include "model/QuotaError.h"
#include "platform/Files.h"
#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/Fixtures.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::QuotaError;
using platform::Date;

constexpr double kNow = 1'765'000'000;

std::string readFixture(const std::string& name) { return testing::fixture("kimi/" + name); }

using testing::errorOf;

bool isLowerCaseUuid(const std::string& text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

mode_t permissionsOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

// ---- the usages answer --------------------------------------------------------------------

std::string usagesWithLimits(const std::string& usage, const std::string& limits) {
    return R"({"usage":)" + usage + R"(,"limits":)" + limits + "}";
}

std::string rateLimit(const std::string& window, const std::string& detail) {
    return R"({"window":)" + window + R"(,"detail":)" + detail + "}";
}

TEST(KimiUsageTest, FixtureGivesTheRateLimitFirstThenTheWeek) {
    const auto usage = KimiClient::parseUsage(readFixture("usages.json"), Date{kNow});
    const std::vector<LimitWindow> expected{
        {"kimi-rate-0-300", "Лимит", 90, 300, Date{1'765'015'200}},
        {"kimi-week", "Все запросы", 25, 10080, Date{1'765'324'800}},
    };
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.provider, model::ProviderKind::kimi);
    EXPECT_EQ(usage.updatedAt, Date{kNow});
    EXPECT_EQ(usage.plan, std::nullopt);
    EXPECT_EQ(usage.currency, std::nullopt);
}

TEST(KimiUsageTest, WeeklyWindowFromTextOrNumbers) {
    struct Case {
        const char* usage;
        std::optional<double> percent;
    };
    const Case cases[] = {
        {R"({"limit":"100","used":"25"})", 25},
        {R"({"limit":100,"remaining":40})", 60},
        {R"({"limit":100.5,"used":100.5})", 100},
        {R"({"limit":"200","used":"oops","remaining":"150"})", 25},
        {R"({"limit":10,"remaining":50})", 0},
        {R"({"limit":10,"used":-3})", 0},
        {R"({"limit":10,"used":30})", 100},
        {R"({"limit":"1e2","used":"5E1"})", 50},
        {R"({"limit":0,"used":0})", std::nullopt},
        {R"({"limit":"-5","used":"1"})", std::nullopt},
        {R"({"limit":"abc","used":"1"})", std::nullopt},
        {R"({"limit":" 100","used":"1"})", std::nullopt},
        {R"({"limit":100})", std::nullopt},
        {R"({"limit":100,"used":true,"remaining":null})", std::nullopt},
        {R"({"limit":"1e999","used":"1"})", std::nullopt},
    };
    // A second, always usable window keeps the answer valid so only the week is judged.
    const std::string other =
        rateLimit(R"({"duration":1,"timeUnit":"DAY"})", R"({"limit":1,"used":0})");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.usage);
        const auto usage =
            KimiClient::parseUsage(usagesWithLimits(c.usage, "[" + other + "]"), Date{kNow});
        std::optional<double> percent;
        for (const auto& window : usage.windows) {
            if (window.id == "kimi-week") percent = window.usedPercent;
        }
        EXPECT_EQ(percent, c.percent);
    }
}

TEST(KimiUsageTest, RateLimitDurationsAndIds) {
    struct Case {
        const char* window;
        std::optional<std::int64_t> minutes;
        const char* id;
    };
    const Case cases[] = {
        {R"({"duration":300,"timeUnit":"TIME_UNIT_MINUTE"})", 300, "kimi-rate-0-300"},
        {R"({"duration":5,"timeUnit":"TIME_UNIT_HOUR"})", 300, "kimi-rate-0-300"},
        {R"({"duration":5,"timeUnit":"hours"})", 300, "kimi-rate-0-300"},
        {R"({"duration":7,"timeUnit":"DAY"})", 10080, "kimi-rate-0-10080"},
        {R"({"duration":30,"timeUnit":"SECOND"})", 1, "kimi-rate-0-1"},
        {R"({"duration":150,"timeUnit":"SECONDS"})", 2, "kimi-rate-0-2"},
        {R"({"duration":3,"timeUnit":"FORTNIGHT"})", std::nullopt, "kimi-rate-0-0"},
        {R"({"duration":9223372036854775807,"timeUnit":"HOUR"})", std::nullopt, "kimi-rate-0-0"},
        {R"({"duration":9223372036854775807,"timeUnit":"DAY"})", std::nullopt, "kimi-rate-0-0"},
        {R"({"duration":-5,"timeUnit":"MINUTE"})", std::nullopt, "kimi-rate-0-0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        const auto usage = KimiClient::parseUsage(
            usagesWithLimits(R"({"limit":0})",
                             "[" + rateLimit(c.window, R"({"limit":4,"used":1})") + "]"),
            Date{kNow});
        ASSERT_EQ(usage.windows.size(), 1u);
        EXPECT_EQ(usage.windows[0].id, c.id);
        EXPECT_EQ(usage.windows[0].durationMinutes, c.minutes);
        EXPECT_EQ(usage.windows[0].usedPercent, 25);
    }
    // The position counts every element, also the skipped ones.
    const auto usage = KimiClient::parseUsage(
        usagesWithLimits(
            R"({"limit":0})",
            "[" + rateLimit(R"({"duration":1,"timeUnit":"DAY"})", R"({"limit":4})") + "," +
                rateLimit(R"({"duration":1,"timeUnit":"DAY"})",
                          R"({"limit":4,"used":2,"reset_at":"2025-12-06T10:00:00Z"})") +
                "]"),
        Date{kNow});
    ASSERT_EQ(usage.windows.size(), 1u);
    EXPECT_EQ(usage.windows[0].id, "kimi-rate-1-1440");
    EXPECT_EQ(usage.windows[0].resetsAt, Date{1'765'015'200});
}

TEST(KimiUsageTest, MostUsedFirstThenShorterWindows) {
    const auto window = [](const char* duration, const char* used) {
        return rateLimit(duration, std::string(R"({"limit":100,"used":)") + used + "}");
    };
    const auto ids = [](const std::string& body) {
        std::vector<std::string> ids;
        for (const auto& w : KimiClient::parseUsage(body, Date{kNow}).windows) ids.push_back(w.id);
        return ids;
    };
    EXPECT_EQ(
        ids(usagesWithLimits(R"({"limit":100,"used":40})",
                             "[" + window(R"({"duration":5,"timeUnit":"HOUR"})", "90") + "]")),
        (std::vector<std::string>{"kimi-rate-0-300", "kimi-week"}));
    EXPECT_EQ(
        ids(usagesWithLimits(R"({"limit":100,"used":50})",
                             "[" + window(R"({"duration":5,"timeUnit":"HOUR"})", "50") + "]")),
        (std::vector<std::string>{"kimi-rate-0-300", "kimi-week"}));
    EXPECT_EQ(
        ids(usagesWithLimits(R"({"limit":100,"used":10})",
                             "[" + window(R"({"duration":1,"timeUnit":"EPOCH"})", "50") + "," +
                                 window(R"({"duration":1,"timeUnit":"DAY"})", "50") + "," +
                                 window(R"({"duration":2,"timeUnit":"EPOCH"})", "50") + "]")),
        (std::vector<std::string>{"kimi-rate-1-1440", "kimi-rate-0-0", "kimi-rate-2-0",
                                  "kimi-week"}));
}

TEST(KimiUsageTest, UnreadableAnswersAndAnswersWithoutWindows) {
    struct Case {
        const char* body;
        const char* message;
    };
    const std::string noUsable = usagesWithLimits(
        R"({"limit":0,"used":1})",
        "[" + rateLimit(R"({"duration":5,"timeUnit":"HOUR"})", R"({"limit":10})") + "]");
    const Case cases[] = {
        {R"({"usage":{"used":"1"}})", "Не удалось разобрать квоты Kimi."},
        {R"({"usage":{"limit":true,"used":"1"}})", "Не удалось разобрать квоты Kimi."},
        {R"({"limits":[]})", "Не удалось разобрать квоты Kimi."},
        {R"({"usage":{"limit":1,"used":1},"limits":[{"detail":{"limit":1}}]})",
         "Не удалось разобрать квоты Kimi."},
        {R"({"usage":{"limit":1,"used":1},"limits":[{"window":{"duration":1.5,"timeUnit":"DAY"},"detail":{"limit":1}}]})",
         "Не удалось разобрать квоты Kimi."},
        {R"({"usage":{"limit":1,"used":1},"limits":[{"window":{"duration":1e30,"timeUnit":"DAY"},"detail":{"limit":1}}]})",
         "Не удалось разобрать квоты Kimi."},
        {R"({"usage":{"limit":1,"used":1},"limits":{}})", "Не удалось разобрать квоты Kimi."},
        {"[]", "Не удалось разобрать квоты Kimi."},
        {"<html>", "Не удалось разобрать квоты Kimi."},
        {noUsable.c_str(), "Kimi не вернул активные лимиты."},
        {R"({"usage":{"limit":"0"},"limits":null})", "Kimi не вернул активные лимиты."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(errorOf([&] { KimiClient::parseUsage(c.body, Date{kNow}); }), c.message);
    }
}

TEST(KimiUsageTest, DatesWithOrWithoutFractions) {
    EXPECT_EQ(KimiClient::parseDate("2025-12-06T10:00:00Z"), Date{1'765'015'200});
    EXPECT_EQ(KimiClient::parseDate("2025-12-06T10:00:00.500Z"), Date{1'765'015'200.5});
    EXPECT_EQ(KimiClient::parseDate(""), std::nullopt);
    EXPECT_EQ(KimiClient::parseDate("1765015200"), std::nullopt);
    EXPECT_EQ(KimiClient::parseDate(std::nullopt), std::nullopt);
}

// ---- identity -----------------------------------------------------------------------------

TEST(KimiIdentityTest, HeadersKeepOnlyPrintableAscii) {
    struct Case {
        const char* hostName;
        const char* version;
        const char* deviceName;
        const char* sentVersion;
    };
    const Case cases[] = {
        {"ann-laptop", "0.1.0", "ann-laptop", "0.1.0"},
        {"ноутбук", "0.1.0", "unknown", "0.1.0"},
        {"ноут-1\t", "0.1.0", "-1", "0.1.0"},
        {"", "", "unknown", "unknown"},
        {"box", "1.0 бета", "box", "1.0 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hostName);
        const platform::HostDescription host{c.hostName, "6.1.0", "Linux 6.1.0 x86_64"};
        const KimiClient::Headers expected{
            {"User-Agent", std::string("Kestrane/") + c.sentVersion},
            {"X-Msh-Platform", "kimi_code_cli"},
            {"X-Msh-Version", c.sentVersion},
            {"X-Msh-Device-Name", c.deviceName},
            {"X-Msh-Device-Model", "Linux 6.1.0 x86_64"},
            {"X-Msh-Os-Version", "6.1.0"},
            {"X-Msh-Device-Id", "1b4e28ba-2fa1-11d2-883f-0016d3cca427"},
        };
        EXPECT_EQ(
            KimiClient::identityHeaders(host, c.version, "1b4e28ba-2fa1-11d2-883f-0016d3cca427"),
            expected);
    }
}

class KimiFilesTest : public ::testing::Test {
  protected:
    KimiClient client(std::map<std::string, std::string, std::less<>> variables = {}) {
        environment = std::make_unique<platform::MapEnvironment>(std::move(variables), home.path());
        return KimiClient(*environment, clock);
    }

    void writeCredential(const std::string& json, const std::string& folder = ".kimi-code") {
        home.write(folder + "/credentials/kimi-code.json", json);
    }

    testing::TempDirectory home;
    testing::FixedClock clock{Date{kNow}};
    std::unique_ptr<platform::MapEnvironment> environment;
};

TEST_F(KimiFilesTest, CredentialComesFromTheKeyThenTheFile) {
    writeCredential(R"({"access_token":"  file-token\n","expires_at":null,"refresh_token":"r"})");
    home.write("elsewhere/credentials/kimi-code.json", R"({"access_token":"other-token"})");
    struct Case {
        const char* name;
        std::map<std::string, std::string, std::less<>> variables;
        const char* credential;
    };
    const Case cases[] = {
        {"key", {{"KIMI_CODE_API_KEY", " sk-key \n"}}, "sk-key"},
        {"blank key", {{"KIMI_CODE_API_KEY", " \t\n"}}, "file-token"},
        {"no key", {}, "file-token"},
        {"home override",
         {{"KIMI_CODE_HOME", " " + (home.path() / "elsewhere").string() + "\n"}},
         "other-token"},
        {"blank home override", {{"KIMI_CODE_HOME", "  "}}, "file-token"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(client(c.variables).loadCredential(), c.credential);
    }
}

TEST_F(KimiFilesTest, StoredTokenExpiryInSecondsOrMilliseconds) {
    struct Case {
        std::string expiresAt;
        const char* outcome;
    };
    const auto seconds = [](double offset) {
        return std::to_string(static_cast<long long>(kNow + offset));
    };
    const auto millis = [](double offset) {
        return std::to_string(static_cast<long long>((kNow + offset) * 1000));
    };
    const char* expired = "Сессия Kimi Code истекла. Войдите в Kimi Code CLI снова.";
    const Case cases[] = {
        {seconds(3600), "tok"},
        {seconds(30), expired},
        {seconds(-3600), expired},
        {millis(3600), "tok"},
        {millis(30), expired},
        {"\"" + seconds(3600) + "\"", "tok"},
        {"\"" + seconds(30) + "\"", expired},
        {"\"" + millis(30) + ".0\"", expired},
        {"\"soon\"", "tok"},
        {"\" " + seconds(30) + "\"", "tok"},
        {"null", "tok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expiresAt);
        writeCredential(R"({"access_token":"tok","expires_at":)" + c.expiresAt + "}");
        EXPECT_EQ(errorOf([&] { (void)client().loadCredential(); }),
                  std::string(c.outcome) == "tok" ? "no error" : c.outcome);
    }
}

TEST_F(KimiFilesTest, UnusableCredentialFilesMeanNotSignedIn) {
    const char* notSignedIn = "Kimi Code не авторизован. Войдите в Kimi Code CLI.";
    EXPECT_EQ(errorOf([&] { (void)client().loadCredential(); }), notSignedIn);
    for (const char* file : {"", "not json", "[]", "{}", R"({"access_token":"  "})",
                             R"({"access_token":5})", R"({"access_token":"a\r\nX-Evil: 1"})"}) {
        SCOPED_TRACE(file);
        writeCredential(file);
        EXPECT_EQ(errorOf([&] { (void)client().loadCredential(); }), notSignedIn);
    }
}

TEST_F(KimiFilesTest, DeviceIdIsCreatedOnceAndReused) {
    const auto folder = home.path() / "a" / "kimi";
    auto kimi = client({{"KIMI_CODE_HOME", folder.string()}});
    const std::string first = kimi.deviceID();
    EXPECT_TRUE(isLowerCaseUuid(first)) << first;
    EXPECT_EQ(platform::readFile(folder / "device_id", 1024), first);
    EXPECT_EQ(permissionsOf(folder), 0700u);
    EXPECT_EQ(permissionsOf(folder / "device_id"), 0600u);
    EXPECT_EQ(kimi.deviceID(), first);

    home.write("a/kimi/device_id", "  existing-id \n");
    EXPECT_EQ(kimi.deviceID(), "existing-id");
}

TEST_F(KimiFilesTest, DeviceIdThatCannotBeStoredIsStillReturned) {
    // A file where the folder should be makes every store fail.
    home.write("blocked", "");
    auto kimi = client({{"KIMI_CODE_HOME", (home.path() / "blocked").string()}});
    const std::string first = kimi.deviceID();
    const std::string second = kimi.deviceID();
    EXPECT_TRUE(isLowerCaseUuid(first));
    EXPECT_TRUE(isLowerCaseUuid(second));
    EXPECT_NE(first, second);
}

TEST_F(KimiFilesTest, AnExistingDeviceIdFileThatCannotBeReadIsNeverReplaced) {
    // The file is the Kimi tool's too: an id for this fetch only is used, and nothing written.
    const auto folder = home.path() / "kimi";
    auto kimi = client({{"KIMI_CODE_HOME", folder.string()}});
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    };
    const Case cases[] = {
        {"a folder", [](const auto& p) { std::filesystem::create_directories(p); }},
        {"a FIFO", [](const auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"over the size limit",
         [&](const auto&) { home.write("kimi/device_id", std::string(65 * 1024, 'a')); }},
        {"without read permission",
         [&](const auto& p) {
             home.write("kimi/device_id", "kept-id");
             std::filesystem::permissions(p, std::filesystem::perms::none);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        const auto file = folder / "device_id";
        c.make(file);
        struct stat before {};
        ASSERT_EQ(::lstat(file.c_str(), &before), 0);
        if (std::string_view(c.name) == "without read permission" &&
            ::access(file.c_str(), R_OK) == 0) {
            // Root reads any file: the case is the readable one then.
            EXPECT_EQ(kimi.deviceID(), "kept-id");
            continue;
        }
        const std::string first = kimi.deviceID();
        EXPECT_TRUE(isLowerCaseUuid(first)) << first;
        EXPECT_NE(kimi.deviceID(), first);  // not stored anywhere
        struct stat after {};
        ASSERT_EQ(::lstat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
    }
}

// ---- fetching from the API ----------------------------------------------------------------

class KimiClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.server().Get("/coding/v1/usages", [this](const auto& request, auto& response) {
            {
                const std::lock_guard lock(mutex);
                ++requests;
                headers = request.headers;
            }
            response.status = status;
            response.set_content(readFixture("usages.json"), "application/json");
        });
        server.start();
    }

    model::ProviderUsage fetch(std::map<std::string, std::string, std::less<>> variables = {}) {
        variables.emplace(std::string(KimiClient::originVariable), server.origin());
        const platform::MapEnvironment environment(std::move(variables), home.path());
        return KimiClient(environment, clock).fetch();
    }

    std::string header(const std::string& name) {
        const std::lock_guard lock(mutex);
        const auto it = headers.find(name);
        return it == headers.end() ? "<absent>" : it->second;
    }

    testing::TempDirectory home;
    testing::FakeHttpServer server;
    testing::FixedClock clock{Date{kNow}};
    std::mutex mutex;
    httplib::Headers headers;
    int requests = 0;
    int status = 200;
};

TEST_F(KimiClientTest, FetchSendsTheCredentialAndEveryIdentityHeader) {
    const auto usage = fetch({{"KIMI_CODE_API_KEY", "sk-test"}});
    EXPECT_EQ(usage.windows.size(), 2u);

    const auto host = platform::currentHost();
    const std::string deviceId =
        platform::readFile(home.path() / ".kimi-code" / "device_id", 1024).value_or("");
    EXPECT_TRUE(isLowerCaseUuid(deviceId));
    const std::string version = KESTRANE_VERSION;
    EXPECT_EQ(header("Authorization"), "Bearer sk-test");
    EXPECT_EQ(header("Accept"), "application/json");
    EXPECT_EQ(header("User-Agent"), "Kestrane/" + version);
    EXPECT_EQ(header("X-Msh-Platform"), "kimi_code_cli");
    EXPECT_EQ(header("X-Msh-Version"), version);
    EXPECT_EQ(header("X-Msh-Device-Name"), KimiClient::ascii(host.hostName).empty()
                                               ? "unknown"
                                               : KimiClient::ascii(host.hostName));
    EXPECT_EQ(header("X-Msh-Device-Model"), host.deviceModel);
    EXPECT_EQ(header("X-Msh-Os-Version"), host.operatingSystemVersion);
    EXPECT_EQ(header("X-Msh-Device-Id"), deviceId);

    // A second fetch presents the same device.
    fetch({{"KIMI_CODE_API_KEY", "sk-test"}});
    EXPECT_EQ(header("X-Msh-Device-Id"), deviceId);
}

TEST_F(KimiClientTest, StatusesBecomeMessages) {
    struct Case {
        int status;
        const char* message;
    };
    const Case cases[] = {
        {401, "Сессия Kimi Code истекла. Войдите в Kimi Code CLI снова."},
        {403, "Kimi Code не разрешил чтение квоты для этого аккаунта."},
        {429, "Kimi временно ограничил проверку квот. Повторите позже."},
        {500, "Kimi API: HTTP 500."},
        {204, "Kimi API: HTTP 204."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        EXPECT_EQ(errorOf([&] { fetch({{"KIMI_CODE_API_KEY", "sk-test"}}); }), c.message);
    }
}

TEST_F(KimiClientTest, ExpiredStoredTokenIsRefusedBeforeAnyRequest) {
    home.write(".kimi-code/credentials/kimi-code.json",
               R"({"access_token":"tok","expires_at":)" + std::to_string(kNow + 30) + "}");
    EXPECT_EQ(errorOf([&] { fetch(); }),
              "Сессия Kimi Code истекла. Войдите в Kimi Code CLI снова.");
    EXPECT_EQ(requests, 0);
}

// ---- the whole program --------------------------------------------------------------------

TEST(KimiProbeTest, ProbePrintsTheWindowsWithoutTheToken) {
    testing::FakeHttpServer server;
    std::string authorization;
    server.server().Get("/coding/v1/usages", [&](const auto& request, auto& response) {
        authorization = request.get_header_value("Authorization");
        response.set_content(readFixture("usages.json"), "application/json");
    });
    server.start();
    const testing::TempDirectory home;
    home.write(".kimi-code/credentials/kimi-code.json",
               R"({"access_token":"secret-oauth-token","expires_at":"4102444800000"})");

    const auto output = testing::runProcess(
        testing::kestraneExecutable(), {"--probe", "kimi"},
        {{"HOME", home.path().string()}, {"KESTRANE_KIMI_ORIGIN", server.origin()}});
    EXPECT_EQ(output.exitStatus, 0);
    EXPECT_EQ(output.standardOutput, "Kimi OK: Лимит - 5 часов=90%, Все запросы - Недельный=25%\n");
    EXPECT_EQ(output.standardError, "");
    EXPECT_EQ(authorization, "Bearer secret-oauth-token");
    EXPECT_EQ(permissionsOf(home.path() / ".kimi-code" / "device_id"), 0600u);
}

TEST(KimiProbeTest, ProbeReportsAMissingSignIn) {
    const testing::TempDirectory home;
    const auto output = testing::runProcess(testing::kestraneExecutable(), {"--probe", "kimi"},
                                            {{"HOME", home.path().string()}});
    EXPECT_EQ(output.exitStatus, 1);
    EXPECT_EQ(output.standardOutput,
              "Kimi ERROR: Kimi Code не авторизован. Войдите в Kimi Code CLI.\n");
    EXPECT_EQ(output.standardError, "");
}

}  // namespace
}  // namespace kestrane::providers
