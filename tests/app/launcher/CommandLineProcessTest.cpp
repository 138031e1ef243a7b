// The built kestrane as a bar or a terminal runs it: options, JSON against the documented
// schemas, the running application's state, the services list, and no Qt on any of these.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "app/status/StatusSnapshot.h"
#include "model/ProviderUsage.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/Json.h"
#include "platform/ProcessIdentity.h"
#include "support/FakeHttpServer.h"
#include "support/JsonSchema.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

using testing::ProcessOutput;

using testing::hasJsonSchemaChecker;
using testing::schemaViolations;

constexpr const char* python = "/usr/bin/python3";

class CommandLineProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake.server().Get("/api/oauth/usage",
                          [this](const httplib::Request&, httplib::Response& response) {
                              response.status = usageStatus;
                              response.set_content(usageBody, "application/json");
                          });
        const auto fixtureAnswer = [](const std::string& name) {
            const auto body =
                platform::readFile(std::string(KESTRANE_FIXTURES) + "/" + name, 1 << 20).value();
            return [body](const httplib::Request&, httplib::Response& response) {
                response.set_content(body, "application/json");
            };
        };
        fake.server().Get("/copilot_internal/user", fixtureAnswer("copilot/user_free.json"));
        fake.server().Post("/v1internal:loadCodeAssist",
                           fixtureAnswer("gemini/load_code_assist.json"));
        fake.server().Post("/v1internal:retrieveUserQuota", fixtureAnswer("gemini/quota.json"));
        fake.start();
        std::filesystem::create_directories(runtime.path());
        std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", home.path().string()},
                {"PATH", "/usr/bin:/bin"},
                {"LANG", "C.UTF-8"},
                {"XDG_RUNTIME_DIR", runtime.path().string()},
                {"XDG_CONFIG_HOME", (home.path() / ".config").string()},
                {"XDG_DATA_HOME", (home.path() / ".local/share").string()},
                {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
                {"KESTRANE_KIMI_ORIGIN", fake.origin()},
                {"KESTRANE_CURSOR_ORIGIN", fake.origin()},
                {"KESTRANE_COPILOT_ORIGIN", fake.origin()},
                {"KESTRANE_GEMINI_ORIGIN", fake.origin()},
                {"KESTRANE_GEMINI_AUTH_ORIGIN", fake.origin()}};
    }

    ProcessOutput kestrane(const std::vector<std::string>& arguments,
                           std::map<std::string, std::string> extra = {}) const {
        auto variables = environment();
        for (auto& [key, value] : extra) variables[key] = value;
        return testing::runProcess(testing::kestraneExecutable(), arguments, variables);
    }

    void storeClaudeSession() const {
        home.write(".claude/.credentials.json",
                   R"({"claudeAiOauth":{"accessToken":"secret-stored-token",)"
                   R"("refreshToken":"secret-refresh","expiresAt":4102444800000,)"
                   R"("subscriptionType":"max"}})");
    }

    // A state file as a running application leaves it, written for a live process (this
    // test), with Claude's icon window at `remaining` percent.
    void writeState(double remaining) const {
        app::StatusSnapshot snapshot;
        snapshot.pid = ::getpid();
        snapshot.processStart = platform::processStartToken(::getpid()).value_or("");
        snapshot.writtenAt = platform::Date{1'765'000'000};
        for (const model::ProviderKind kind : model::allProviderKinds) {
            app::ProviderStatus status{
                .provider = kind, .enabled = kind == model::ProviderKind::claude, .text = "--"};
            if (status.enabled) {
                status.text = std::to_string(model::roundedPercent(remaining)) + "%";
                status.windowID = "claude-session";
                status.windowTitle = "Сессия - 5 часов";
                status.remainingPercent = remaining;
            }
            snapshot.providers.push_back(status);
        }
        std::filesystem::create_directories(runtime.path() / "kestrane");
        ASSERT_EQ(platform::writeFileAtomically(
                      runtime.path() / "kestrane/status.json", snapshot.encode(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write),
                  0);
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    testing::TempDirectory runtime;
    testing::TempDirectory scratch;
    int usageStatus = 200;
    std::string usageBody = R"({"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},)"
                            R"("seven_day":{"utilization":12.5}})";
};

TEST_F(CommandLineProcessTest, HelpVersionAndUnknownOptions) {
    const auto help = kestrane({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.standardError, "");
    for (const char* option : {"--probe", "--json", "--status", "--format", "--services", "--stop",
                               "--preview", "--help", "--version"}) {
        EXPECT_NE(help.standardOutput.find(option), std::string::npos) << option;
    }
    EXPECT_NE(help.standardOutput.find("Использование"), std::string::npos);

    const auto version = kestrane({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.standardOutput, "kestrane " KESTRANE_VERSION "\n");

    // Before, any of these started the tray application (or printed the no-display line).
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--bogus"},
                                                      {"--probe", "--bogus"},
                                                      {"claude"},
                                                      {"--stop", "abc"},
                                                      {"--status", "--format", "xml"}}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto result = kestrane(arguments);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.standardOutput, "");
        ASSERT_FALSE(result.standardError.empty());
        EXPECT_EQ(result.standardError.find('\n'), result.standardError.size() - 1)
            << "one line: " << result.standardError;
        EXPECT_NE(result.standardError.find("kestrane --help"), std::string::npos);
    }
}

TEST_F(CommandLineProcessTest, ProbeJsonFollowsItsSchemaForSuccessFailureAndMixedRuns) {
    if (!hasJsonSchemaChecker()) GTEST_SKIP() << "python3-jsonschema is not installed";
    storeClaudeSession();
    struct Case {
        const char* name;
        int usageStatus;
        std::vector<std::string> arguments;
        int exitStatus;
        std::vector<bool> ok;
    };
    const Case cases[] = {
        {"success", 200, {"--probe", "--json", "claude"}, 0, {true}},
        {"failure", 401, {"--probe", "--json", "claude"}, 1, {false}},
        // Kimi has no key here and fails; Claude answers.
        {"mixed", 200, {"--probe", "kimi", "--json", "claude"}, 1, {false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        usageStatus = c.usageStatus;
        const auto result = kestrane(c.arguments);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.standardError, "");
        EXPECT_EQ(schemaViolations("probe.schema.json", result.standardOutput, scratch), "");
        const auto document = platform::parseJson(result.standardOutput);
        const auto& providers = document.at("providers");
        ASSERT_EQ(providers.size(), c.ok.size());
        for (std::size_t i = 0; i < c.ok.size(); ++i) {
            EXPECT_EQ(providers[i].at("ok"), c.ok[i]) << i;
        }
        // Tokens never reach the output.
        EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
    }

    usageStatus = 200;
    const auto document =
        platform::parseJson(kestrane({"--probe", "--json", "claude"}).standardOutput);
    const auto& window = document.at("providers")[0].at("usage").at("windows")[0];
    EXPECT_EQ(window.at("id"), "claude-session");
    EXPECT_EQ(window.at("title"), "Сессия - 5 часов");
    EXPECT_EQ(window.at("usedPercent"), 41);
    EXPECT_EQ(window.at("remainingPercent"), 59);
    EXPECT_EQ(window.at("durationMinutes"), 300);
    EXPECT_EQ(window.at("resetsAt"), "2030-01-01T00:00:00Z");
}

TEST_F(CommandLineProcessTest, ProbeJsonOfCopilotAndGeminiFollowsItsSchema) {
    if (!hasJsonSchemaChecker()) GTEST_SKIP() << "python3-jsonschema is not installed";
    home.write(
        ".config/github-copilot/apps.json",
        R"({"github.com:Iv1.b507a08c87ecfe98":{"user":"octocat","oauth_token":"ghu_secret"}})");
    home.write(".gemini/oauth_creds.json",
               R"({"access_token":"ya29.secret","expiry_date":4102444800000})");
    const auto result = kestrane({"--probe", "--json", "copilot", "gemini"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(schemaViolations("probe.schema.json", result.standardOutput, scratch), "");
    const auto document = platform::parseJson(result.standardOutput);
    const auto& providers = document.at("providers");
    ASSERT_EQ(providers.size(), 2u);
    EXPECT_EQ(providers[0].at("provider"), "GitHub Copilot");
    EXPECT_EQ(providers[0].at("usage").at("windows")[0].at("title"), "Чат - Месячный");
    EXPECT_EQ(providers[1].at("provider"), "Gemini CLI");
    EXPECT_EQ(providers[1].at("usage").at("windows")[0].at("durationMinutes"), 1440);
    EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
}

TEST_F(CommandLineProcessTest, StatusWithoutARunningApplicationExitsWithThree) {
    struct Case {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
    };
    const Case cases[] = {
        {{"--status"}, {}},
        {{"--status", "--json"}, {}},
        {{"--status", "--format", "waybar"}, {}},
        {{"--status"}, {{"XDG_RUNTIME_DIR", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const auto result = kestrane(c.arguments, c.environment);
        EXPECT_EQ(result.exitStatus, 3);
        EXPECT_EQ(result.standardError, "");
        EXPECT_EQ(std::count(result.standardOutput.begin(), result.standardOutput.end(), '\n'), 1)
            << result.standardOutput;
        EXPECT_NE(result.standardOutput.find("Kestrane не запущен"), std::string::npos);
    }
    // A file left by a process that is gone (its pid free or reused) counts as no instance.
    writeState(50);
    auto snapshot = *app::StatusSnapshot::decode(
        *platform::readFile(runtime.path() / "kestrane/status.json", 1 << 20));
    snapshot.processStart += "0";
    runtime.write("kestrane/status.json", snapshot.encode());
    EXPECT_EQ(kestrane({"--status"}).exitStatus, 3);
}

TEST_F(CommandLineProcessTest, WaybarClassesFollowTheLowestShare) {
    if (!hasJsonSchemaChecker()) GTEST_SKIP() << "python3-jsonschema is not installed";
    struct Case {
        double remaining;
        const char* expectedClass;
    };
    for (const Case c : {Case{50, "ok"}, Case{15, "warning"}, Case{3, "critical"}}) {
        SCOPED_TRACE(c.remaining);
        writeState(c.remaining);
        const auto result = kestrane({"--status", "--format", "waybar"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(schemaViolations("waybar.schema.json", result.standardOutput, scratch), "");
        const auto module = platform::parseJson(result.standardOutput);
        EXPECT_EQ(module.at("class"), c.expectedClass);
        EXPECT_EQ(module.at("percentage"), static_cast<int>(c.remaining));
        EXPECT_EQ(module.at("text"), "Cl " + std::to_string(static_cast<int>(c.remaining)) + "%");
        // One line: Waybar reads a line per update.
        EXPECT_EQ(result.standardOutput.find('\n'), result.standardOutput.size() - 1);
    }
}

// The real application (offscreen, no tray) fetches Claude from the fake and leaves its state.
TEST_F(CommandLineProcessTest, StatusReportsWhatTheRunningApplicationShows) {
    if (!hasJsonSchemaChecker()) GTEST_SKIP() << "python3-jsonschema is not installed";
    storeClaudeSession();
    home.write(".config/Kestrane/Kestrane.conf",
               "[General]\nproviderTogglesV1=\"{\\\"Claude\\\":true,\\\"Codex\\\":false,"
               "\\\"Cursor\\\":false,\\\"Kimi\\\":false,\\\"Antigravity\\\":false}\"\n");
    std::vector<std::string> arguments{"-i"};
    for (const auto& [key, value] : environment()) arguments.push_back(key + "=" + value);
    arguments.push_back("QT_QPA_PLATFORM=offscreen");
    arguments.push_back(testing::kestraneExecutable());
    auto application =
        platform::ChildProcess::start("/usr/bin/env", arguments, {.pipeOutput = false});

    // The first refresh asks the fake at once; a loaded machine gets a minute.
    ProcessOutput status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline && application.isRunning()) {
        status = kestrane({"--status"});
        if (status.exitStatus == 0 && status.standardOutput == "Cl 59%\n") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(application.isRunning()) << "the application ended early";
    EXPECT_EQ(status.standardOutput, "Cl 59%\n");
    EXPECT_EQ(status.exitStatus, 0);

    const auto json = kestrane({"--status", "--json"});
    EXPECT_EQ(json.exitStatus, 0);
    EXPECT_EQ(schemaViolations("status.schema.json", json.standardOutput, scratch), "");
    const auto document = platform::parseJson(json.standardOutput);
    EXPECT_EQ(document.at("pid"), application.pid());
    ASSERT_EQ(document.at("providers").size(), 1u);
    EXPECT_EQ(document.at("providers")[0].at("window").at("remainingPercent"), 59);

    const auto waybar = kestrane({"--status", "--format", "waybar"});
    EXPECT_EQ(platform::parseJson(waybar.standardOutput).at("class"), "ok");
    // Named providers, in the order named; Codex is switched off and has nothing.
    EXPECT_EQ(kestrane({"--status", "codex", "claude"}).standardOutput, "Cx -- · Cl 59%\n");

    // The state is for the user alone.
    const auto file = runtime.path() / "kestrane/status.json";
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(platform::readFile(file, 1 << 20)->find("secret"), std::string::npos);

    application.stop();
    const auto after = kestrane({"--status"});
    EXPECT_EQ(after.exitStatus, 3) << after.standardOutput;
}

TEST_F(CommandLineProcessTest, ServicesListsAndStopsARealServerButNeverPidOne) {
    if (::access(python, X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3 here";
    testing::TempDirectory project;
    project.write("package.json", "{}");
    auto server = platform::ChildProcess::start(
        python, {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1"},
        {.workingDirectory = project.path()});
    std::string line;
    char byte = 0;
    while (::read(server.outputDescriptor(), &byte, 1) == 1 && byte != '\n') line += byte;
    ASSERT_NE(line.find("Serving HTTP"), std::string::npos) << line;
    const std::string port =
        line.substr(line.find(" port ") + 6, line.find(" (") - line.find(" port ") - 6);
    const std::string pid = std::to_string(server.pid());

    const auto list = kestrane({"--services"});
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_EQ(list.standardError, "");
    EXPECT_NE(list.standardOutput.find("python3 · Работает\n  Порт: " + port + " • PID " + pid),
              std::string::npos)
        << list.standardOutput;
    EXPECT_NE(list.standardOutput.find("Проект: " + project.path().filename().string()),
              std::string::npos);
    EXPECT_NE(list.standardOutput.find("Команда: " + std::string(python) + " -u -m http.server"),
              std::string::npos);
    // The start time in Russian ("Старт 10 дек., 14:05"): a Latin or numbered month would mean
    // ICU's locale data is missing from the program.
    const std::string startLabel = "Старт ";
    const auto started = list.standardOutput.find(startLabel);
    ASSERT_NE(started, std::string::npos) << list.standardOutput;
    const auto month = list.standardOutput.find(' ', started + startLabel.size());
    ASSERT_NE(month, std::string::npos);
    const auto lead = static_cast<unsigned char>(list.standardOutput[month + 1]);
    EXPECT_TRUE(lead == 0xD0 || lead == 0xD1) << list.standardOutput;

    const auto json = kestrane({"--services", "--json"});
    EXPECT_EQ(json.exitStatus, 0);
    if (hasJsonSchemaChecker()) {
        EXPECT_EQ(schemaViolations("services.schema.json", json.standardOutput, scratch), "");
    }
    bool listed = false;
    const auto listing = platform::parseJson(json.standardOutput);
    for (const auto& row : listing.at("services")) {
        if (row.at("pid") != server.pid()) continue;
        listed = true;
        EXPECT_EQ(row.at("ports"), platform::Json::array({std::stoi(port)}));
        EXPECT_EQ(row.at("project").at("path"), project.path().string());
        EXPECT_TRUE(row.at("stoppable"));
    }
    EXPECT_TRUE(listed) << json.standardOutput;

    const auto refused = kestrane({"--stop", "1"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.standardOutput,
              "Kestrane не может остановить этот процесс. PID 1 — первый процесс системы, от "
              "него зависят все остальные.\n");

    const auto stopped = kestrane({"--stop", pid});
    EXPECT_EQ(stopped.exitStatus, 0) << stopped.standardOutput;
    EXPECT_EQ(stopped.standardOutput, "SIGTERM отправлен: python3 (PID " + pid + ") остановлен.\n");
    const int waitStatus = server.wait();
    EXPECT_TRUE(WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGTERM) << waitStatus;

    const auto again = kestrane({"--stop", pid});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_EQ(again.standardOutput, "Процесса с PID " + pid + " нет.\n");
}

// A process of another user: one that runs already, or, as root, one we start as nobody.
struct OtherUsersProcess {
    pid_t pid = -1;
    std::optional<platform::ChildProcess> child;
};

OtherUsersProcess otherUsersProcess() {
    const uid_t self = ::getuid();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        const auto owner = platform::processOwner(pid);
        if (pid > 1 && owner && *owner != self) return {pid, std::nullopt};
    }
    if (self != 0 || ::access(python, X_OK) != 0) return {};
    OtherUsersProcess result;
    result.child = platform::ChildProcess::start(
        python,
        {"-c",
         "import os, sys\nos.setgid(65534)\nos.setuid(65534)\nprint('ready', flush=True)\n"
         "sys.stdin.read()\n"},
        {.pipeInput = true, .pipeOutput = true});
    std::string line;
    char byte = 0;
    while (::read(result.child->outputDescriptor(), &byte, 1) == 1 && byte != '\n') line += byte;
    if (line == "ready") result.pid = result.child->pid();
    return result;
}

TEST_F(CommandLineProcessTest, StopRefusalsSayWhy) {
    const std::string refused = "Kestrane не может остановить этот процесс. ";
    // Not this test: its fake server listens, which makes it a service.
    auto idle = platform::ChildProcess::start("/bin/cat", {}, {.pipeInput = true});
    struct Case {
        std::string pid;
        std::string output;
    };
    std::vector<Case> cases = {
        {"1", refused + "PID 1 — первый процесс системы, от него зависят все остальные.\n"},
        {"0", refused + "Номера процессов начинаются с 1.\n"},
        {"-7", refused + "Номера процессов начинаются с 1.\n"},
        // The user's own, but neither listening nor a heavy project process.
        {std::to_string(idle.pid()),
         refused + "Его нет в списке локальных служб (kestrane --services), а остановить можно "
                   "только службу из списка.\n"},
        // Beyond any system's largest pid: it never existed.
        {"99999999", "Процесса с PID 99999999 нет.\n"},
    };
    auto other = otherUsersProcess();
    if (other.pid > 0) {
        cases.push_back({std::to_string(other.pid),
                         refused + "Он принадлежит другому пользователю, а останавливать можно "
                                   "только свои процессы.\n"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pid);
        const auto result = kestrane({"--stop", c.pid});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, c.output);
        EXPECT_EQ(result.standardError, "");
    }
    EXPECT_EQ(idle.waitForExit(std::chrono::milliseconds(0)), std::nullopt)
        << "the refused process was signalled";
    idle.stop();
    if (other.child) {
        EXPECT_EQ(other.child->waitForExit(std::chrono::milliseconds(0)), std::nullopt)
            << "the refused process was signalled";
        other.child->stop();
    }
    if (other.pid <= 0) {
        GTEST_SKIP() << "the other user's process was left out: there is none here, and only "
                        "root can start one";
    }
}

// LD_DEBUG lists every library the loader maps, those opened later with dlopen too.
TEST_F(CommandLineProcessTest, CommandLineModesMapNoQtLibrary) {
    storeClaudeSession();
    writeState(50);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--probe", "claude"},
                                                      {"--probe", "--json", "claude"},
                                                      {"--status"},
                                                      {"--status", "--format", "waybar"},
                                                      {"--services"},
                                                      {"--stop", "1"},
                                                      {"--help"}}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto result = kestrane(arguments, {{"LD_DEBUG", "libs"}});
        EXPECT_NE(result.standardError.find("libc.so"), std::string::npos)
            << "the loader's trace is missing";
        EXPECT_EQ(result.standardError.find("libQt"), std::string::npos);
    }
    // --status, which a bar runs every few seconds, loads nothing but the C and C++ runtimes.
    const auto status = kestrane({"--status"}, {{"LD_DEBUG", "libs"}});
    for (const char* library : {"libcurl", "libicu", "libsqlite3", "libcrypto"}) {
        EXPECT_EQ(status.standardError.find(library), std::string::npos) << library;
    }
    // The probe uses the system's own shared libraries, so their security updates reach it
    // and packaging tools see them.
    const auto probe = kestrane({"--probe", "claude"}, {{"LD_DEBUG", "libs"}});
    for (const char* library : {"libicuuc", "libicudata", "libcurl"}) {
        EXPECT_NE(probe.standardError.find(library), std::string::npos) << library;
    }
    // The same check finds Qt where it is: in the tray program beside it.
    const auto desktop =
        std::filesystem::path(testing::kestraneExecutable()).parent_path() / "kestrane-desktop";
    const auto traced = testing::runProcess(
        desktop.string(), {}, {{"LD_TRACE_LOADED_OBJECTS", "1"}, {"PATH", "/usr/bin:/bin"}});
    EXPECT_NE(traced.standardOutput.find("libQt6Widgets"), std::string::npos);
}

}  // namespace
}  // namespace kestrane
