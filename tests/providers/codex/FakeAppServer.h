#pragma once

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDirectory.h"

namespace kestrane::testing {

// Installs the scripted app-server program (tests/fakes) under names of our choosing, each
// with its own script, and reads back what each instance recorded.
class FakeAppServer {
  public:
    // A `codex` executable at <folder>/<name>/codex that plays `script`.
    std::filesystem::path install(const std::string& name, const std::string& script) const {
        const auto directory = folder.path() / name;
        std::filesystem::create_directories(directory);
        const auto path = directory / "codex";
        std::filesystem::create_symlink(KESTRANE_FAKE_CODEX_APP_SERVER, path);
        std::ofstream(path.string() + ".scenario") << script;
        return path;
    }

    // Everything the instance at `path` recorded, one entry per line.
    static std::vector<std::string> log(const std::filesystem::path& path) {
        std::ifstream file(path.string() + ".log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);) lines.push_back(line);
        return lines;
    }

    // The recorded process id, or -1 when the program never started.
    static pid_t processId(const std::filesystem::path& path) {
        const auto lines = log(path);
        if (lines.empty() || !lines[0].starts_with("pid ")) return -1;
        return static_cast<pid_t>(std::stol(lines[0].substr(4)));
    }

    // True when the process is gone and reaped (no zombie left behind either).
    static bool isGone(pid_t pid) { return ::kill(pid, 0) == -1 && errno == ESRCH; }

    // The lines the instance read, without the "read " prefix.
    static std::vector<std::string> requests(const std::filesystem::path& path) {
        std::vector<std::string> read;
        for (const auto& line : log(path)) {
            if (line.starts_with("read ")) read.push_back(line.substr(5));
        }
        return read;
    }

    TempDirectory folder;
};

}  // namespace kestrane::testing
