// `kestrane --probe claude` and `kestrane --status` next to `curl` asking the same loopback
// fake for the same usage document, alternating in one run: median wall time of each, the
// ratio to curl, and peak resident memory (the child's own maximum, from wait4).
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

#include "app/StatusSnapshot.h"
#include "platform/Files.h"
#include "platform/ProcessIdentity.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

extern char** environ;

namespace {

struct Run {
    double milliseconds = 0;
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
    fake.server().Get("/api/oauth/usage", [&](const httplib::Request&, httplib::Response& response) {
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
        snapshot.providers.push_back({.provider = kind, .enabled = true, .text = "59%",
                                      .windowID = "w", .windowTitle = "Сессия - 5 часов",
                                      .remainingPercent = 59});
    }
    std::filesystem::create_directories(runtime.path() / "kestrane");
    kestrane::platform::writeFileAtomically(runtime.path() / "kestrane/status.json",
                                            snapshot.encode(),
                                            std::filesystem::perms::owner_read |
                                                std::filesystem::perms::owner_write);

    const std::map<std::string, std::string> environment = {
        {"HOME", home.path().string()},
        {"PATH", "/usr/bin:/bin"},
        {"KESTRANE_CLAUDE_OAUTH_TOKEN", "bench-token"},
        {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
        {"XDG_RUNTIME_DIR", runtime.path().string()},
    };
    const std::string kestrane = kestrane::testing::kestraneExecutable();
    std::vector<Series> series{
        {"curl (same request)",
         {"/usr/bin/curl", "-sS", "--noproxy", "*", "-H", "Authorization: Bearer bench-token",
          "-H", "anthropic-beta: oauth-2025-04-20", fake.origin() + "/api/oauth/usage"}},
        {"kestrane --probe claude", {kestrane, "--probe", "claude"}},
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
            s.peak = std::max(s.peak, r.peakKilobytes);
        }
    }
    const double curl = median(series[0].times);
    std::printf("%d runs each, alternating\n", runs);
    std::printf("%-36s %12s %10s %14s %9s\n", "command", "median, ms", "vs curl", "peak RSS, MB",
                "failures");
    for (const auto& s : series) {
        const double m = median(s.times);
        std::printf("%-36s %12.2f %9.2fx %14.1f %9d\n", s.name, m, m / curl,
                    static_cast<double>(s.peak) / 1024.0, s.failures);
    }
    return 0;
}
