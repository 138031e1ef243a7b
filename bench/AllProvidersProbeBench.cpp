// Whole-process wall time of `kestrane --probe` with all five providers at once, each served
// by a stand-in that answers after 300 ms, next to the same run with each provider alone. The
// fetches of a probe run side by side, so all five should cost about as much as the slowest
// one, not the sum.
//
// The stand-ins: Claude, Cursor and Kimi are answered by an in-process HTTP server on
// 127.0.0.1 (every request waits 300 ms, Cursor's two requests included); Codex is the tests'
// scripted app server, found through CODEX_PATH, whose rate-limit answer comes 300 ms late;
// Antigravity is the tests' fake language server, found through the real ps and lsof, whose
// quota summary comes 300 ms late (its account answer comes at once). Each provider's quota
// answer is the slow one; the clients' other calls are answered at once. Cursor's state database
// and Kimi's credential live in a temporary home folder.
//
// The language server is visible to every process on the machine, so the program holds the
// same lock as the Antigravity whole-process tests while its server runs, and refuses to run
// next to a real one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/Json.h"
#include "providers/antigravity/AntigravityClient.h"
#include "providers/cursor/CursorTestSupport.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using kestrane::platform::Json;

constexpr auto kDelay = std::chrono::milliseconds(300);
constexpr int kDelayMilliseconds = 300;

// The build folder: this program lives in <build>/bench.
fs::path buildDirectory() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path(); }

std::string fixture(const std::string& name) {
    return kestrane::platform::readFile(std::string(KESTRANE_FIXTURES) + "/" + name, 1 << 20)
        .value_or("");
}

std::string respond(int id, const Json& result) {
    return "send " + Json{{"id", id}, {"result", result}}.dump() + "\n";
}

// The app server's exchange: initialize, the "initialized" notice, account, rate limits and
// threads. `slowEveryAnswer` delays all four answers instead of the rate limits alone.
std::string codexScript(bool slowEveryAnswer) {
    const std::string wait = "sleep " + std::to_string(kDelayMilliseconds) + "\n";
    const std::string everyWait = slowEveryAnswer ? wait : "";
    const Json account = {{"account", {{"email", "dev@example.com"}, {"planType", "pro"}}}};
    const Json limits = {
        {"rateLimitsByLimitId",
         {{"codex",
           {{"limitId", "codex"},
            {"primary",
             {{"usedPercent", 40}, {"windowDurationMins", 300}, {"resetsAt", 4102444800}}},
            {"secondary",
             {{"usedPercent", 10}, {"windowDurationMins", 10080}, {"resetsAt", 4102444800}}}}}}}};
    return "read\n" + everyWait + respond(1, {{"userAgent", "codex"}}) + "read\nread\n" +
           everyWait + respond(2, account) + "read\n" + wait + respond(3, limits) + "read\n" +
           everyWait + respond(4, {{"data", Json::array()}});
}

// Every stand-in, started once for the whole program and stopped at exit.
class Stage {
  public:
    Stage() {
        // Claude, Cursor and Kimi on one server; each request waits before it is answered.
        const auto slow = [](std::string body) {
            return [body](const httplib::Request&, httplib::Response& response) {
                std::this_thread::sleep_for(kDelay);
                response.set_content(body, "application/json");
            };
        };
        auto& routes = http_.server();
        routes.Get("/api/oauth/usage", slow(fixture("claude/usage_full.json")));
        routes.Get("/api/usage-summary", slow(fixture("cursor/summary_three_windows.json")));
        routes.Get("/api/auth/me", slow(R"({"email":"dev@example.com"})"));
        routes.Get("/coding/v1/usages", slow(fixture("kimi/usages.json")));
        http_.start();

        // Far in the future: the program reads the real clock.
        kestrane::testing::makeStateDatabase(
            home_.path() / ".config/Cursor/User/globalStorage/state.vscdb",
            kestrane::testing::makeJwt(R"({"sub":"auth0|bench","exp":4102444800})"));
        home_.write(".kimi-code/credentials/kimi-code.json",
                    R"({"access_token":"bench-token","expires_at":"4102444800000"})");

        codex_ = home_.path() / "codex-bin" / "codex";
        fs::create_directories(codex_.parent_path());
        fs::create_symlink(buildDirectory() / "tests/fake_codex_app_server", codex_);
        useCodexScript(false);

        environment_ = {
            {"HOME", home_.path().string()},
            {"PATH", "/usr/bin:/bin"},
            {"TMPDIR", home_.path().string()},
            {"KESTRANE_CLAUDE_OAUTH_TOKEN", "bench-token"},
            {"KESTRANE_CLAUDE_API_ORIGIN", http_.origin()},
            {"KESTRANE_CURSOR_ORIGIN", http_.origin()},
            {"KESTRANE_KIMI_ORIGIN", http_.origin()},
            {"CODEX_PATH", codex_.string()},
        };
        startLanguageServer();
    }

    ~Stage() {
        languageServer_.reset();
        if (lock_ >= 0) ::close(lock_);
    }

    // Why the stage cannot be used; empty when it is ready.
    const std::string& problem() const { return problem_; }
    const std::map<std::string, std::string>& environment() const { return environment_; }

    void useCodexScript(bool slowEveryAnswer) const {
        std::ofstream(codex_.string() + ".scenario", std::ios::trunc)
            << codexScript(slowEveryAnswer);
    }

  private:
    void startLanguageServer() {
        const fs::path program =
            buildDirectory() / "tests/fakes/antigravity/language_server_linux_x64";
        if (!fs::exists(program) || !fs::exists(codex_)) {
            problem_ = "build the tests first (the fake servers)";
            return;
        }
        const auto lockPath =
            fs::temp_directory_path() / "kestrane-antigravity-language-server-tests.lock";
        lock_ = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0) {
            problem_ = "cannot take the language-server lock";
            return;
        }
        if (!kestrane::providers::AntigravityClient::runningProcesses().empty()) {
            problem_ = "an Antigravity language server already runs here";
            return;
        }
        languageServer_ = kestrane::platform::ChildProcess::start(
            program, {"--app_data_dir", "antigravity", "--csrf_token", "bench", "--fake_fixtures",
                      std::string(KESTRANE_FIXTURES) + "/antigravity", "--fake_delay_ms",
                      std::to_string(kDelayMilliseconds), "--fake_delay_summary_only", "1"});
        // It prints one line once it listens.
        std::string line;
        char c = 0;
        pollfd fd{languageServer_->outputDescriptor(), POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&fd, 1, 10'000) > 0 &&
               ::read(languageServer_->outputDescriptor(), &c, 1) == 1) {
            line += c;
        }
        if (line.rfind("ready ", 0) != 0) problem_ = "the fake language server did not start";
    }

    kestrane::testing::FakeHttpServer http_;
    kestrane::testing::TempDirectory home_;
    fs::path codex_;
    std::map<std::string, std::string> environment_;
    int lock_ = -1;
    std::optional<kestrane::platform::ChildProcess> languageServer_;
    std::string problem_;
};

Stage& stage() {
    static Stage instance;
    return instance;
}

// One probe per iteration; every requested provider must print "OK".
void probe(benchmark::State& state, std::vector<std::string> providers, bool slowCodexEveryAnswer) {
    Stage& stage = ::stage();
    if (!stage.problem().empty()) return state.SkipWithError(stage.problem().c_str());
    stage.useCodexScript(slowCodexEveryAnswer);
    std::vector<std::string> arguments{"--probe"};
    arguments.insert(arguments.end(), providers.begin(), providers.end());
    const std::size_t expected = providers.empty() ? 5 : providers.size();
    for (auto _ : state) {
        const auto result = kestrane::testing::runProcess(kestrane::testing::kestraneExecutable(),
                                                          arguments, stage.environment());
        std::size_t ok = 0;
        for (std::size_t at = 0;
             (at = result.standardOutput.find(" OK: ", at)) != std::string::npos; ++at) {
            ++ok;
        }
        if (result.exitStatus != 0 || ok != expected) {
            state.SkipWithError(("probe failed: " + result.standardOutput).c_str());
            return;
        }
    }
}

void configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(10)
        ->ReportAggregatesOnly(true);
}

BENCHMARK_CAPTURE(probe, all_five, std::vector<std::string>{}, false)->Apply(configure);
BENCHMARK_CAPTURE(probe, claude, std::vector<std::string>{"claude"}, false)->Apply(configure);
BENCHMARK_CAPTURE(probe, codex, std::vector<std::string>{"codex"}, false)->Apply(configure);
BENCHMARK_CAPTURE(probe, cursor, std::vector<std::string>{"cursor"}, false)->Apply(configure);
BENCHMARK_CAPTURE(probe, kimi, std::vector<std::string>{"kimi"}, false)->Apply(configure);
BENCHMARK_CAPTURE(probe, antigravity, std::vector<std::string>{"antigravity"}, false)
    ->Apply(configure);
// Codex's four calls go one after another over one pipe; when each of them is slow, Codex
// alone sets the pace of the whole probe.
BENCHMARK_CAPTURE(probe, all_five_every_codex_answer_slow, std::vector<std::string>{}, true)
    ->Apply(configure);

}  // namespace
