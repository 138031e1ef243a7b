// What finding the Antigravity language server costs before any request is made: parsing a
// process listing, and the real ps and lsof runs.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "providers/antigravity/AntigravityClient.h"

namespace {

using kestrane::providers::AntigravityClient;

// A listing of a busy developer machine: many processes, a few language servers of other
// editors, one of Antigravity near the end.
std::string listing(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += "  " + std::to_string(1000 + i) + " ";
        if (i % 50 == 7) {
            text += "/opt/other/language_server_linux_x64 --app_data_dir other --csrf_token t\n";
        } else {
            text += "/usr/lib/some/program --flag value --another=" + std::string(80, 'x') + "\n";
        }
    }
    text +=
        "  9999 /usr/share/antigravity/resources/app/extensions/antigravity/bin/"
        "language_server_linux_x64 --app_data_dir antigravity --csrf_token abc "
        "--extension_server_port 4100 --extension_server_csrf_token def\n";
    return text;
}

void BM_ParseProcessListing(benchmark::State& state) {
    const std::string text = listing(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(AntigravityClient::parseProcessListing(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseProcessListing)->Arg(200)->Arg(2000);

void BM_RunningProcessesWithRealPs(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(AntigravityClient::runningProcesses());
}
BENCHMARK(BM_RunningProcessesWithRealPs)->Unit(benchmark::kMillisecond);

void BM_ListeningPortsWithRealLsof(benchmark::State& state) {
    const int pid = static_cast<int>(::getpid());
    for (auto _ : state) benchmark::DoNotOptimize(AntigravityClient::listeningPorts(pid));
}
BENCHMARK(BM_ListeningPortsWithRealLsof)->Unit(benchmark::kMillisecond);

}  // namespace
