// Local services: the parsers on a synthetic listing of 5 000 processes, the assembly of a
// scan from canned command output, and a real scan on this machine next to the three
// commands it runs.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>

#include "localservices/LocalServiceMonitor.h"
#include "localservices/LocalServiceParser.h"
#include "platform/ChildProcess.h"
#include "platform/SystemTools.h"

namespace {

using namespace kestrane;
using localservices::LocalServiceCommandResult;
using localservices::LocalServiceMonitor;

constexpr int kProcesses = 5000;
const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// `distinctTimes`: every process started at its own second (the parser's worst case);
// otherwise they share 50 start times, as processes of a session do.
std::string psListing(bool distinctTimes) {
    std::string text;
    for (int i = 0; i < kProcesses; ++i) {
        const int slot = distinctTimes ? i : i % 50;
        const int day = 1 + slot / 3600 % 28;
        char line[512];
        std::snprintf(line, sizeof line,
                      "%6d  501 %4.1f %7d %s Mar %2d %02d:%02d:%02d 2026 /home/dev/project%d/"
                      "node_modules/.bin/vite --port %d --host 127.0.0.1 --config "
                      "/home/dev/project%d/vite.config.ts\n",
                      100 + i, (i % 300) / 10.0, 1000 + i * 37, kDays[day % 7], day,
                      slot / 60 / 60 % 24, slot / 60 % 60, slot % 60, i % 40, 3000 + i % 1000,
                      i % 40);
        text += line;
    }
    return text;
}

std::string lsofListeners() {
    std::string text;
    for (int i = 0; i < kProcesses; ++i) {
        text += "p" + std::to_string(100 + i) +
                "\ncnode\nu501\nf20\nn*:" + std::to_string(3000 + i % 60000) +
                "\nf21\nn[::1]:" + std::to_string(3000 + i % 60000) + "\n";
    }
    return text;
}

std::string lsofDirectories() {
    std::string text;
    for (int i = 0; i < kProcesses; ++i) {
        text += "p" + std::to_string(100 + i) + "\nfcwd\nn/home/dev/project" +
                std::to_string(i % 40) + "/packages/web\n";
    }
    return text;
}

void BM_ProcessMetadata(benchmark::State& state) {
    const auto listing = psListing(state.range(0) != 0);
    const platform::Calendar calendar("Europe/Moscow");
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            localservices::LocalServiceParser::processMetadata(listing, calendar));
    }
    state.SetLabel(state.range(0) ? "5000 processes, distinct start times"
                                  : "5000 processes, 50 start times");
}
BENCHMARK(BM_ProcessMetadata)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Listeners(benchmark::State& state) {
    const auto listing = lsofListeners();
    for (auto _ : state) {
        benchmark::DoNotOptimize(localservices::LocalServiceParser::listeners(listing));
    }
    state.SetLabel("5000 processes, 2 sockets each");
}
BENCHMARK(BM_Listeners)->Unit(benchmark::kMillisecond);

void BM_WorkingDirectories(benchmark::State& state) {
    const auto listing = lsofDirectories();
    for (auto _ : state) {
        benchmark::DoNotOptimize(localservices::LocalServiceParser::workingDirectories(listing));
    }
    state.SetLabel("5000 processes");
}
BENCHMARK(BM_WorkingDirectories)->Unit(benchmark::kMillisecond);

// A whole scan with canned command output: parsing, classification, project lookup (with an
// in-memory file system), redaction and sorting, but no child processes.
void BM_ScanAssembly(benchmark::State& state) {
    const int listeners = static_cast<int>(state.range(0));
    const std::string ps = psListing(false);
    std::string lsof;
    std::string pidList;
    std::string cwd;
    for (int i = 0; i < kProcesses; ++i) {
        const bool listens = i < listeners;
        // ps marks every 300th process heavy (29.9 % CPU); those join the directory query too.
        const bool heavy = (i % 300) / 10.0 >= 20.0;
        if (listens) {
            lsof += "p" + std::to_string(100 + i) +
                    "\ncnode\nu501\nn*:" + std::to_string(3000 + i) + "\n";
        }
        if (listens || heavy) {
            pidList += (pidList.empty() ? "" : ",") + std::to_string(100 + i);
            cwd += "p" + std::to_string(100 + i) + "\nn/home/dev/project" + std::to_string(i % 40) +
                   "/packages/web\n";
        }
    }
    std::set<std::string> files;
    for (int p = 0; p < 40; ++p) files.insert("/home/dev/project" + std::to_string(p) + "/.git");

    auto system = LocalServiceMonitor::currentSystem();
    system.userID = 501;
    system.calendar = platform::Calendar("Europe/Moscow");
    system.fileExists = [&](const std::string& path) { return files.contains(path); };
    system.run = [&](const std::string& executable, const std::vector<std::string>& arguments) {
        if (executable == system.psPath) return LocalServiceCommandResult{ps, 0};
        if (arguments.size() > 1 && arguments[1] == "-p") return LocalServiceCommandResult{cwd, 0};
        return LocalServiceCommandResult{lsof, 0};
    };
    system.openProcess = [](std::int32_t) {
        return LocalServiceMonitor::SignalTarget{0, [](int) { return 0; }};
    };
    // Canned output names processes that do not exist here: no CPU readings.
    system.cpuSeconds = nullptr;
    const LocalServiceMonitor monitor(system);
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto result = monitor.scanSynchronously();
        rows = result.size();
        benchmark::DoNotOptimize(result);
    }
    state.SetLabel("5000 processes in ps, " + std::to_string(listeners) + " listeners, " +
                   std::to_string(rows) + " rows");
}
BENCHMARK(BM_ScanAssembly)->Arg(20)->Arg(500)->Unit(benchmark::kMillisecond);

// The three commands of a scan on this machine, run back to back, without any parsing.
void BM_ThreeCommandsOnThisMachine(benchmark::State& state) {
    const auto lsof = platform::lsofExecutable();
    const auto uid = std::to_string(::getuid());
    const auto self = std::to_string(::getpid());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            platform::runCommand(lsof, {"-nP", "-iTCP", "-sTCP:LISTEN", "-Fpcun"}, 32 << 20));
        benchmark::DoNotOptimize(
            platform::runCommand(platform::psExecutable(),
                                 {"-U", uid, "-o", "pid=", "-o", "uid=", "-o", "pcpu=", "-o",
                                  "rss=", "-o", "lstart=", "-o", "command="},
                                 32 << 20));
        benchmark::DoNotOptimize(
            platform::runCommand(lsof, {"-a", "-p", self, "-d", "cwd", "-Fpn"}, 32 << 20));
    }
}
BENCHMARK(BM_ThreeCommandsOnThisMachine)->Unit(benchmark::kMillisecond)->UseRealTime();

// A forked child that listens on a loopback port, so that the scan on this machine runs all
// three commands even where nothing else listens. Ended with the benchmark.
class ForkedListener {
  public:
    ForkedListener() {
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(fd, 1);
            for (;;) ::pause();
        }
    }
    ~ForkedListener() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

  private:
    pid_t pid_ = -1;
};

// A real scan; the time spent waiting for the three commands, and for the pause between the
// two CPU readings, is taken apart from the rest (parsing, reading /proc, classification,
// project lookup, redaction, sorting). Arg 0 takes CPU shares from ps as it prints them;
// arg 1 measures them over the recent interval.
void BM_ScanOnThisMachine(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const ForkedListener listener;
    auto system = LocalServiceMonitor::currentSystem();
    Clock::duration inCommands{};
    Clock::duration inPause{};
    Clock::duration inReadings{};
    system.run = [&inCommands](const std::string& executable,
                               const std::vector<std::string>& arguments) {
        const auto start = Clock::now();
        auto result = localservices::LocalServiceCommand::run(executable, arguments);
        inCommands += Clock::now() - start;
        return result;
    };
    if (state.range(0) == 0) {
        system.cpuSeconds = nullptr;
    } else {
        system.sleep = [&inPause, sleep = system.sleep](double seconds) {
            const auto start = Clock::now();
            sleep(seconds);
            inPause += Clock::now() - start;
        };
        system.cpuSeconds = [&inReadings, read = system.cpuSeconds](std::int32_t pid) {
            const auto start = Clock::now();
            auto seconds = read(pid);
            inReadings += Clock::now() - start;
            return seconds;
        };
    }
    const LocalServiceMonitor monitor(system);
    Clock::duration total{};
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto result = monitor.scanSynchronously();
        total += Clock::now() - start;
        rows = result.size();
        benchmark::DoNotOptimize(result);
    }
    const auto perScan = [&](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["commands_ms"] = perScan(inCommands);
    state.counters["pause_ms"] = perScan(inPause);
    state.counters["cpu_reads_ms"] = perScan(inReadings);
    state.counters["rest_ms"] = perScan(total - inCommands - inPause);
    state.SetLabel(std::string(state.range(0) ? "recent CPU, " : "CPU from ps, ") +
                   std::to_string(rows) + " rows");
}
BENCHMARK(BM_ScanOnThisMachine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
