// One Codex fetch end to end: the client against the scripted app server of the tests
// (which answers at once), the bare start-up of that child for comparison, and the
// signed-out exchange with the real app server when scripts/setup installed it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "providers/codex/CodexClient.h"

namespace {

namespace fs = std::filesystem;
using kestrane::platform::Json;

// The build folder: this program lives in <build>/bench.
fs::path buildDirectory() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path(); }

// A private folder for the scripts and the children's working directory, removed at exit.
struct Scratch {
    fs::path directory;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "kestrane-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data())) directory = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        if (!directory.empty()) fs::remove_all(directory, ignored);
    }
};

fs::path scratchDirectory() {
    static const Scratch scratch;
    return scratch.directory;
}

// The scripted server installed as <scratch>/<name>/codex playing `script`.
std::optional<fs::path> fakeServer(const std::string& name, const std::string& script) {
    const fs::path program = buildDirectory() / "tests/fake_codex_app_server";
    if (!fs::exists(program) || scratchDirectory().empty()) return std::nullopt;
    const fs::path path = scratchDirectory() / name / "codex";
    fs::create_directories(path.parent_path());
    std::error_code ignored;
    fs::remove(path, ignored);
    fs::create_symlink(program, path);
    std::ofstream(path.string() + ".scenario") << script;
    fs::remove(path.string() + ".log", ignored);
    return path;
}

std::string respond(int id, const Json& result) {
    return "read\nsend " + Json{{"id", id}, {"result", result}}.dump() + "\n";
}

std::string fullExchange() {
    const Json account = {{"account", {{"email", "dev@example.com"}, {"planType", "pro"}}}};
    const Json limits = {
        {"rateLimitsByLimitId",
         {{"codex",
           {{"limitId", "codex"},
            {"credits", {{"balance", "12.5"}}},
            {"primary",
             {{"usedPercent", 40}, {"windowDurationMins", 300}, {"resetsAt", 1765003600}}},
            {"secondary",
             {{"usedPercent", 10}, {"windowDurationMins", 10080}, {"resetsAt", 1765500000}}}}}}}};
    Json threads = {{"data", Json::array()}};
    for (int i = 0; i < 64; ++i) {
        threads["data"].push_back({{"id", "t" + std::to_string(i)},
                                   {"model", i % 2 ? "gpt-5.2-codex" : "o4-mini"},
                                   {"updatedAt", 1764999000 - i}});
    }
    return respond(1, {{"userAgent", "codex"}}) + "read\n" + respond(2, account) +
           respond(3, limits) + respond(4, threads);
}

void BM_ChildStartOnly(benchmark::State& state) {
    const auto codex = fakeServer("start", "exit 0\n");
    if (!codex) return state.SkipWithError("build the tests first (fake_codex_app_server)");
    for (auto _ : state) {
        auto child = kestrane::platform::ChildProcess::start(
            *codex, {"-s", "read-only", "-a", "never", "app-server"},
            {.workingDirectory = scratchDirectory(), .pipeInput = true});
        benchmark::DoNotOptimize(child.wait());
    }
}
BENCHMARK(BM_ChildStartOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FetchAgainstScriptedServer(benchmark::State& state) {
    ::signal(SIGPIPE, SIG_IGN);
    const auto codex = fakeServer("fetch", fullExchange());
    if (!codex) return state.SkipWithError("build the tests first (fake_codex_app_server)");
    const kestrane::platform::MapEnvironment environment({{"TMPDIR", scratchDirectory()}}, "/");
    const kestrane::platform::SystemClock clock;
    const kestrane::providers::CodexClient client(environment, clock);
    for (auto _ : state) {
        const auto usage = client.fetchSynchronously({codex->string()});
        if (usage.windows.size() != 2) return state.SkipWithError("unexpected answer");
        benchmark::DoNotOptimize(usage);
    }
}
BENCHMARK(BM_FetchAgainstScriptedServer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Signed out: "initialize" and "account/read" answer, the rate limits are refused.
void BM_SignedOutFetchAgainstRealAppServer(benchmark::State& state) {
    ::signal(SIGPIPE, SIG_IGN);
    const fs::path codex = buildDirectory().parent_path() / "tools/codex/node_modules/.bin/codex";
    if (!fs::exists(codex)) return state.SkipWithError("@openai/codex is not installed");
    const fs::path home = scratchDirectory() / "home";
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);  // the child inherits our environment
    const kestrane::platform::MapEnvironment environment({{"TMPDIR", scratchDirectory()}}, home);
    const kestrane::platform::SystemClock clock;
    const kestrane::providers::CodexClient client(environment, clock);
    for (auto _ : state) {
        try {
            client.fetchSynchronously({codex.string()});
            return state.SkipWithError("a signed-out fetch succeeded");
        } catch (const std::exception& error) {
            benchmark::DoNotOptimize(error.what());
        }
    }
}
BENCHMARK(BM_SignedOutFetchAgainstRealAppServer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
