// Whole-process wall time of `kestrane --probe claude` against a fake Claude that answers at
// once: the probe's own overhead (process start, TLS-less HTTP on loopback, parsing, printing).
#include <benchmark/benchmark.h>

#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace {

void BM_ProbeClaudeWholeProcess(benchmark::State& state) {
    kestrane::testing::FakeHttpServer fake;
    fake.server().Get("/api/oauth/usage", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"five_hour":{"utilization":12.5},"seven_day":{"utilization":3}})",
                             "application/json");
    });
    fake.start();
    kestrane::testing::TempDirectory home;
    const std::map<std::string, std::string> environment = {
        {"HOME", home.path().string()},
        {"KESTRANE_CLAUDE_OAUTH_TOKEN", "bench-token"},
        {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
    };
    for (auto _ : state) {
        const auto result = kestrane::testing::runProcess(kestrane::testing::kestraneExecutable(),
                                                          {"--probe", "claude"}, environment);
        if (result.exitStatus != 0) state.SkipWithError("probe failed");
    }
}
BENCHMARK(BM_ProbeClaudeWholeProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
