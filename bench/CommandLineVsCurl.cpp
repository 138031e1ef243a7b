// `kestrane --probe claude` and `kestrane --status` next to `curl` asking the same loopback
// fake for the same usage document, alternating in one run: median wall time of each, the
// ratio to curl, the CPU time each used (from wait4), and peak resident memory (from
// /usr/bin/time). Medians of each column on its own.
//
// usage: CommandLineVsCurl [runs]   (default 40 runs of each)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/status/StatusSnapshot.h"
#include "platform/Files.h"
#include "platform/ProcessIdentity.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

extern char** environ;

namespace {

struct Run {
    double milliseconds = 0;
    // User and system CPU time of the child: what it costs, whatever else the machine does.
    double cpuMilliseconds = 0;
    long peakKilobytes = 0;
    int status = -1;
};

// Output goes to /dev/null: the measurement is the program's, not the pipe reader's.
Run run(const std::vector<std::string>& command, const std::map<std::string, std::string>& env) {
    std::vector<std::string> strings = command;
    std::vector<char*> argv;
    for (auto& word : strings) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    result.peakKilobytes = usage.ru_maxrss;
    result.cpuMilliseconds = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Series {
    const char* name;
    std::vector<std::string> command;
    std::vector<double> times;
    std::vector<double> cpu;
    long peak = 0;
    int failures = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::string body =
        R"({"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},)"
        R"("seven_day":{"utilization":12.5}})";
    kestrane::testing::FakeHttpServer fake;
    fake.server().Get("/api/oauth/usage",
                      [&](const httplib::Request&, httplib::Response& response) {
                          response.set_content(body, "application/json");
                      });
    fake.start();
    kestrane::testing::TempDirectory home;
    kestrane::testing::TempDirectory runtime;

    // A state file as the application leaves it, for a process that is alive: this one.
    kestrane::app::StatusSnapshot snapshot;
    snapshot.pid = ::getpid();
    snapshot.processStart = kestrane::platform::processStartToken(::getpid()).value_or("");
    for (const auto kind : kestrane::model::allProviderKinds) {
        snapshot.providers.push_back({.provider = kind,
                                      .enabled = true,
                                      .text = "59%",
                                      .windowID = "w",
                                      .windowTitle = "Сессия - 5 часов",
                                      .remainingPercent = 59});
    }
    std::filesystem::create_directories(runtime.path() / "kestrane");
    kestrane::platform::writeFileAtomically(
        runtime.path() / "kestrane/status.json", snapshot.encode(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const std::map<std::string, std::string> environment = {
        {"HOME", home.path().string()},
        {"PATH", "/usr/bin:/bin"},
        {"KESTRANE_CLAUDE_OAUTH_TOKEN", "bench-token"},
        {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
        {"XDG_RUNTIME_DIR", runtime.path().string()},
    };
    const std::string kestrane = kestrane::testing::kestraneExecutable();
    // The program `kestrane --probe` becomes: the difference is the cost of the hand-over.
    const std::string cli =
        (std::filesystem::path(kestrane).parent_path() / "kestrane-cli").string();
    std::vector<Series> series{
        {"curl (same request)",
         {"/usr/bin/curl", "-sS", "--noproxy", "*", "-H", "Authorization: Bearer bench-token", "-H",
          "anthropic-beta: oauth-2025-04-20", fake.origin() + "/api/oauth/usage"}},
        {"kestrane --probe claude", {kestrane, "--probe", "claude"}},
        {"  of which kestrane-cli alone", {cli, "--probe", "claude"}},
        {"kestrane --status", {kestrane, "--status"}},
        {"kestrane --status --format waybar", {kestrane, "--status", "--format", "waybar"}},
    };
    // One warm-up of each (page cache, loader), then the runs interleaved so that load from
    // elsewhere on the machine falls on all of them alike.
    for (auto& s : series) run(s.command, environment);
    for (int i = 0; i < runs; ++i) {
        for (auto& s : series) {
            const Run r = run(s.command, environment);
            if (r.status != 0) ++s.failures;
            s.times.push_back(r.milliseconds);
            s.cpu.push_back(r.cpuMilliseconds);
        }
    }
    // Peak memory apart: a child of this process would count this process's own pages (they
    // are its until exec), so each command runs a few times under /usr/bin/time, whose
    // own small size is all that adds to the figure.
    kestrane::testing::TempDirectory scratch;
    const auto report = scratch.path() / "time.txt";
    for (auto& s : series) {
        s.peak = 0;
        for (int i = 0; i < 5; ++i) {
            std::vector<std::string> timed{"/usr/bin/time", "-f", "%M", "-o", report.string()};
            timed.insert(timed.end(), s.command.begin(), s.command.end());
            run(timed, environment);
            const auto text = kestrane::platform::readFile(report, 64);
            if (text) s.peak = std::max(s.peak, std::atol(text->c_str()));
        }
    }
    const double curl = median(series[0].times);
    const double curlCPU = median(series[0].cpu);
    std::printf("%d runs each, alternating\n", runs);
    std::printf("%-36s %10s %8s %12s %8s %13s %9s\n", "command", "wall, ms", "vs curl", "CPU, ms",
                "vs curl", "peak RSS, MB", "failures");
    for (const auto& s : series) {
        const double m = median(s.times);
        const double c = median(s.cpu);
        std::printf("%-36s %10.2f %7.2fx %12.2f %7.2fx %13.1f %9d\n", s.name, m, m / curl, c,
                    c / curlCPU, static_cast<double>(s.peak) / 1024.0, s.failures);
    }
    return 0;
}
