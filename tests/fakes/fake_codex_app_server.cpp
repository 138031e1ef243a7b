// A scripted stand-in for `codex app-server`, started by the Codex client tests.
//
// It reads its script from "<argv[0]>.scenario" (tests link or copy this program under the
// name they give the client) and records what it saw in "<argv[0]>.log": its process id,
// arguments, working directory and PATH, then every line it read. Script lines:
//
//   read            read one line from standard input (end of input: exit 0)
//   send TEXT       write TEXT and a line feed
//   raw TEXT        write TEXT without a line feed
//   flood N         write N bytes of 'x' and no line feed
//   exit N          exit with status N
//   ignore-term     ignore SIGTERM from here on
//   close-input     close standard input (later writes to us fail with EPIPE)
//   hang            block until killed, whatever happens to standard input
//   drain           read and discard standard input until it ends, then exit 0
//   sleep MS        wait MS milliseconds (a slow server, for benchmarks)
//   grandchild      start a child of our own that keeps standard output open and waits until
//                   killed (records "grandchild PID")
//
// Lines that are empty or start with '#' are ignored. After the last line it drains.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

void writeAll(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(1, bytes.data() + written, bytes.size() - written);
        if (count <= 0) std::exit(3);
        written += static_cast<std::size_t>(count);
    }
}

bool readLine(std::string& line) {
    line.clear();
    char byte = 0;
    for (;;) {
        const ssize_t count = ::read(0, &byte, 1);
        if (count <= 0) return !line.empty();
        if (byte == '\n') return true;
        line.push_back(byte);
    }
}

void drain() {
    std::string line;
    while (readLine(line)) {
    }
    std::exit(0);
}

}  // namespace

int main(int, char** argv) {
    const std::string self = argv[0];
    std::ifstream scenario(self + ".scenario");
    std::ofstream log(self + ".log", std::ios::app);
    char directory[4096] = {};
    log << "pid " << ::getpid() << '\n';
    log << "args";
    for (char** argument = argv + 1; *argument; ++argument) log << ' ' << *argument;
    log << '\n' << "cwd " << (::getcwd(directory, sizeof directory) ? directory : "?") << '\n';
    const char* path = std::getenv("PATH");
    log << "path " << (path ? path : "") << '\n';
    log.flush();

    std::string step;
    while (std::getline(scenario, step)) {
        if (step.empty() || step[0] == '#') continue;
        const auto space = step.find(' ');
        const std::string command = step.substr(0, space);
        const std::string argument = space == std::string::npos ? "" : step.substr(space + 1);
        if (command == "read") {
            std::string line;
            if (!readLine(line)) return 0;
            log << "read " << line << '\n';
            log.flush();
        } else if (command == "send") {
            writeAll(argument + "\n");
        } else if (command == "raw") {
            writeAll(argument);
        } else if (command == "flood") {
            const std::string chunk(65536, 'x');
            for (long left = std::stol(argument); left > 0; left -= 65536) {
                writeAll(chunk.substr(0, static_cast<std::size_t>(std::min(left, 65536L))));
            }
        } else if (command == "exit") {
            return std::stoi(argument);
        } else if (command == "close-input") {
            ::close(0);
        } else if (command == "ignore-term") {
            ::signal(SIGTERM, SIG_IGN);
        } else if (command == "hang") {
            for (;;) ::pause();
        } else if (command == "drain") {
            drain();
        } else if (command == "grandchild") {
            log.flush();
            const pid_t child = ::fork();
            if (child == 0) {
                for (;;) ::pause();
            }
            log << "grandchild " << child << '\n';
            log.flush();
        } else if (command == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(argument)));
        } else {
            return 2;
        }
    }
    drain();
}
