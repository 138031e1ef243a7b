// Everything a `codex app-server` child writes on its standard output, read by the real
// client: a stand-in executable plays the input back while the client runs its whole
// exchange (initialize, account, rate limits, recent threads) against it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzSupport.h"
#include "platform/Environment.h"
#include "providers/codex/CodexClient.h"

namespace {

struct Stage {
    std::filesystem::path folder;
    std::filesystem::path input;
    std::filesystem::path executable;
};

// One private folder per fuzzing process with the stand-in and the input it plays.
const Stage& stage() {
    static const Stage stage = [] {
        Stage s;
        s.folder = std::filesystem::temp_directory_path() /
                   ("kestrane-fuzz-codex-" + std::to_string(::getpid()));
        std::filesystem::create_directories(s.folder);
        s.input = s.folder / "answers";
        s.executable = s.folder / "codex";
        // Writes the answers, then reads its input until the client closes it, like a server.
        std::ofstream(s.executable)
            << "#!/bin/sh\ncat '" << s.input.string() << "'\nexec cat >/dev/null\n";
        ::chmod(s.executable.c_str(), 0700);
        // As the application does at start-up: writing to a child that has gone fails
        // instead of ending the process.
        ::signal(SIGPIPE, SIG_IGN);
        return s;
    }();
    return stage;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    using namespace std::chrono_literals;
    const auto& s = stage();
    {
        std::ofstream file(s.input, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    static const platform::MapEnvironment environment({{"TMPDIR", s.folder.string()}}, s.folder);
    static const fuzz::FixedClock clock;
    // Short limits: an answer that never comes costs a few milliseconds, not seconds.
    const providers::CodexClient client(
        environment, clock,
        {.initialize = 50ms, .accountRead = 50ms, .rateLimitsRead = 50ms, .threadList = 50ms});
    fuzz::rejectingOnlyWithLocalizedErrors(
        [&] { fuzz::checkUsage(client.fetchSynchronously({s.executable.string()})); });
    return 0;
}
